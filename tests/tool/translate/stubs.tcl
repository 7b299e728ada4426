# Stand-ins for the commands of timing constraints, so that tclsh can
# evaluate a script that translate wrote: each object query resolves its
# names against one side of a design's name map, as a timing tool would
# against its netlist, and logs the objects (map ids) it found, one line per
# command. A script and its translation must log the same objects.
#
# Names resolve as the object queries of timing tools take them: the
# argument is a list whose elements keep their backslashes; "*" and "?"
# match within one level; -hierarchical matches the last levels of a name
# at any depth; a name with one more level is that name's pin, and so, in
# a query of pins, is an oterm's name one level below an atom's. A name
# that resolves to nothing is logged as ?NAME.
#
# usage: tclsh stubs.tcl NAMES SCRIPT LOG
#   NAMES: lines of ID, a tab, the row's kind, a tab and a name of the side
#   the script is written in (original paths without their leading "/").
lassign $argv names_file script_file log_file
set names [open $names_file]
fconfigure $names -encoding utf-8
while {[gets $names line] >= 0} {
  lassign [split $line "\t"] id kind
  set name [string range $line [expr {[string length "$id\t$kind\t"]}] end]
  set ::ids($name) $id
  lappend ::kinds($name) $kind
}
close $names
set ::log [open $log_file w]
fconfigure $::log -encoding utf-8

# The levels of a name: split at each "/" that no backslash escapes.
proc levels {name} {
  set result {}
  set level ""
  for {set i 0} {$i < [string length $name]} {incr i} {
    set c [string index $name $i]
    if {$c eq "\\"} {
      append level $c [string index $name [incr i]]
    } elseif {$c eq "/"} {
      lappend result $level
      set level ""
    } else {
      append level $c
    }
  }
  lappend result $level
}

proc level_matches {pattern level} {
  set re "^"
  foreach c [split $pattern ""] {
    switch -- $c {
      * { append re ".*" }
      ? { append re "." }
      default { append re [expr {[string is alnum $c] ? $c : "\\$c"}] }
    }
  }
  regexp -- "$re\$" $level
}

proc matches {pattern name hierarchical} {
  set want [levels $pattern]
  set have [levels $name]
  set skip [expr {[llength $have] - [llength $want]}]
  if {$skip < 0 || (!$hierarchical && $skip != 0)} { return 0 }
  foreach p $want h [lrange $have $skip end] {
    if {![level_matches $p $h]} { return 0 }
  }
  return 1
}

# The objects `name` resolves to: ids, id/PIN for a pin, or ?NAME.
proc resolve {name hierarchical {pins 1}} {
  if {[string index $name 0] eq "/"} { set name [string range $name 1 end] }
  if {!$hierarchical && [info exists ::ids($name)]} {
    set levels [levels $name]
    set base [join [lrange $levels 0 end-1] /]
    if {$pins == 2 && [llength $levels] > 1 && [lsearch $::kinds($name) oterm] >= 0 &&
        [info exists ::kinds($base)] && [lsearch $::kinds($base) atom] >= 0} {
      return [list obj$::ids($base)/[lindex $levels end]]
    }
    return [list obj$::ids($name)]
  }
  set pattern [expr {$hierarchical || [string first * $name] >= 0 || [string first ? $name] >= 0}]
  set found {}
  if {$pattern} {
    foreach candidate [array names ::ids] {
      if {[matches $name $candidate $hierarchical]} { lappend found obj$::ids($candidate) }
    }
  }
  set levels [levels $name]
  if {$found eq {} && $pins && [llength $levels] > 1} {
    set pin [lindex $levels end]
    set base [string range $name 0 end-[expr {[string length $pin] + 1}]]
    if {[regexp {^[A-Za-z_][A-Za-z0-9_]*(\[[0-9]+\])?$} $pin]} {
      foreach object [resolve $base $hierarchical 0] {
        if {[string index $object 0] ne "?"} { lappend found $object/$pin }
      }
    }
  }
  if {$found eq {}} { return [list ?$name] }
  lsort -unique $found
}

proc query {kind arguments} {
  set hierarchical 0
  set result {}
  set words {}
  for {set i 0} {$i < [llength $arguments]} {incr i} {
    set word [lindex $arguments $i]
    switch -glob -- $word {
      -hi* { set hierarchical 1 }
      -of* { lappend result {*}[lindex $arguments [incr i]] }
      -regexp { lappend words regexp:[lindex $arguments [incr i]] }
      -filter - -hsc { incr i }
      -* {}
      default {
        # Object queries keep the backslashes of their lists' elements.
        foreach name [string map {\\ \\\\} $word] {
          lappend result {*}[resolve $name $hierarchical [expr {$kind eq "get_pins" ? 2 : 1}]]
        }
      }
    }
  }
  puts $::log "$kind $words [lsort $result]"
  return $result
}

foreach kind {get_cells get_pins get_nets current_instance} {
  proc $kind {args} "query $kind \$args"
}
foreach kind {get_ports get_clocks get_lib_cells} {
  proc $kind {args} "puts \$::log \"$kind \$args\"; return \[list $kind:\$args\]"
}

# Any other command: its arguments as they are, but for words of two levels
# or more, which resolve as names.
proc unknown {command args} {
  set line $command
  foreach argument $args {
    set words {}
    foreach word $argument {
      if {[regexp {^(obj|get_)} $word] || [llength [levels [string trimleft $word /]]] < 2} {
        lappend words $word
      } else {
        lappend words {*}[resolve $word 0]
      }
    }
    append line " {$words}"
  }
  puts $::log $line
}

source -encoding utf-8 $script_file
close $::log
