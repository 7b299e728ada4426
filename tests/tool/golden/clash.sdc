# constraints in the design's own names
set_false_path -from [get_cells {/x.y /é1}] -to [get_pins n40/D]
set_multicycle_path 2 -from x-y/Q -to {/x_y_0}
set_max_delay 1.5 -to [get_pins "/u/Q/D"]
set_dont_touch [get_cells cell]
set_dont_touch [get_cells /nothing/here]
