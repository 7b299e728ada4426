# Constraints for the converted netlist, read back in the design's names
create_clock -name clk -period 10 [get_ports clk]
create_generated_clock -name clk_div -source [get_ports clk] -divide_by 2 [get_pins {CPU/DATA_CACHE.mem/$auto$ff.cc:266:slice$62046/Q}]
set_false_path -from [get_cells CPU/r_0] -to [get_cells {CPU/r_1 CPU/data_q[7]}]
set_false_path -to [get_pins {CPU/DATA_CACHE.mem/$auto$ff.cc:266:slice$62046/d}]
set_multicycle_path 2 -from [get_pins "CPU/g\[0\].l/u/ck"] -to CPU/r_10/d
set_max_delay 2 -from [get_cells {CPU/r_0 CPU/r_1}] -to [get_cells {CPU/r_10 CPU/DATA_CACHE.mem/OPT_r}]
set_case_analysis 0 [get_pins -of_objects [get_cells {{a b}}]]
set_dont_touch [get_cells {thecpu {p\/q} x_y dup {dup\#1} cell}]
set_dont_touch [get_cells [list CPU/r_0 {CPU/g[0].l/u}]]
set_load 0.5 [get_nets n1]
set_false_path -from thecpu -to CPU/r_0
puts "thecpu is slow"
set_dont_touch [get_cells {r{a}eg}]; set_dont_touch [get_cells {thecpu {r{a}eg}}]
# A pattern over converted names stays as it is, unreported.
set_dont_touch [get_cells acpu/r_*]
# Words that name nothing, each reported with --unknown warn:
set_false_path -to CPU/r_0/D
set_dont_touch [get_cells acpu/ADATA_CACHE_MEM]
set_dont_touch [get_cells acpu.r_0]
set_dont_touch [get_cells acpu/r_0/x/y]
set_dont_touch [get_cells {CPU/r_0 m_x}]
