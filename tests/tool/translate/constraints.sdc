# Constraints in the design's own names; comments stay as they are: CPU/r_0
set inst CPU
create_clock -name clk -period 10 [get_ports clk]
create_generated_clock -name clk_div -source [get_ports clk] -divide_by 2 [get_pins {CPU/DATA_CACHE.mem/$auto$ff.cc:266:slice$62046/Q}]
set_input_delay -clock clk 1.0 [get_ports {din[0] din[1]}]
set_false_path -from [get_cells CPU/r_0] -to [get_cells {CPU/r_1 CPU/data_q[7]}]
set_false_path -to [get_pins CPU/DATA_CACHE.mem/\$auto\$ff.cc:266:slice\$62046/D]
set_multicycle_path 2 -from [get_pins "CPU/g\[0\].l/u/CK"] -to CPU/r_10/D
set_max_delay 2 -from [get_cells CPU/r_?] -to [get_cells {CPU/r_1* CPU/*/OPT_*}]
set_max_delay 3 -through [get_pins CPU/r_1*/D]
set_disable_timing [get_cells -hierarchical *slice*]
set_disable_timing [get_cells -hierarchical {*slice* OPT_r}]
set_case_analysis 0 [get_pins -of_objects [get_cells {{a b}}]]
set_dont_touch [get_cells {thecpu p\/q}]
set_dont_touch [get_cells [list CPU/r_0 CPU/g\[0\].l/u]]
set_dont_touch [get_cells x\{y]
set_dont_touch [get_cells {r{a}eg}]; set_dont_touch [get_cells {r{a}eg thecpu}]
set_dont_touch [get_cells {dup dup\#1}]
set_load 0.5 [get_nets n1]
set_dont_touch [get_cells cell]
set_false_path -from thecpu -to /CPU/r_0
set_clock_groups -asynchronous -group {clk} -group {clk_div}
if {[llength [get_cells CPU/r_*]] > 0} {
  set_false_path -through [get_pins {CPU/r_0/Q}]
}
puts "thecpu is slow"
# Names that name nothing, each reported with --unknown warn:
set_dont_touch [get_cells thecpu/DATA_CACHE.mem/OPT_*]
set_dont_touch [get_cells CPU/DATA_CACHE.mem/OPT_x/y]
set_dont_touch [get_cells CPU/data_cache.mem]
set_dont_touch [get_cells CPU.DATA_CACHE.mem]
set_false_path -to CPU/DATA_CACHE.mem.x
# Left as they are, without a report: a regular expression, a variable.
set_dont_touch [get_cells -regexp {CPU/r_[0-9]+}]
set_dont_touch [get_cells $inst/r_0]
