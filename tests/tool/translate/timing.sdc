# Constraints for the converted netlist, read back in the design's names
create_clock -name clk -period 10 [get_ports clk]
create_generated_clock -name clk_div -source [get_ports clk] -divide_by 2 [get_pins lut0/Q]
set_false_path -from [get_cells acpu/r_0] -to [get_cells {acpu/r_1 acpu/data_q[7]}]
set_false_path -to [get_pins lut0/d]
set_multicycle_path 2 -from [get_pins "acpu/g\[0\]_l/u/ck"] -to acpu/r_10/d
set_max_delay 2 -from [get_cells {acpu/r_0 acpu/r_1}] -to [get_cells {acpu/r_10 acpu/adata_cache_mem/aopt_r}]
set_case_analysis 0 [get_pins -of_objects [get_cells a_b]]
set_dont_touch [get_cells {thecpu p_q x_y dup dup_0 lut1}]
set_dont_touch [get_cells [list acpu/r_0 {acpu/g[0]_l/u}]]
set_load 0.5 [get_nets w0]
set_false_path -from thecpu -to acpu/r_0
puts "thecpu is slow"
set_dont_touch [get_cells r_a_eg]; set_dont_touch [get_cells {thecpu r_a_eg}]
# A pattern over converted names stays as it is, unreported.
set_dont_touch [get_cells acpu/r_*]
# Words that name nothing, each reported with --unknown warn:
set_false_path -to acpu/r_0/D
set_dont_touch [get_cells acpu/ADATA_CACHE_MEM]
set_dont_touch [get_cells acpu.r_0]
set_dont_touch [get_cells acpu/r_0/x/y]
set_dont_touch [get_cells {acpu/r_0 m_x}]
