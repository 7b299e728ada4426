// Host string type and text helpers.
//
// GEN_STRING is the host's growable string of char; its storage comes from
// the tracked memory manager, like every other allocation of the module.
#ifndef H_GEN_SYS_H
#define H_GEN_SYS_H

#include <string>

#include "h/mem_alloc_sys.h"

typedef std::basic_string<char, std::char_traits<char>, MEM_STL_ALLOCATOR<char>> GEN_STRING;

// Replaces the content of `out` with the text of `value` in `base` (2 to 36):
// lower-case digits, a leading '-' for negative values, "0" for zero.
void gen_itoa(int value, GEN_STRING& out, int base);

// Lower-cases the ASCII letters of `text` in place; other bytes stay as they are.
void gen_tolower(GEN_STRING& text);

#endif  // H_GEN_SYS_H
