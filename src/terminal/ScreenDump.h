// A readable, deterministic text picture of a screen, for tests and tools.
//
//   25x80 cursor 3,12 region 0-24 attr 07          size, cursor (row,col), scroll region, attribute
//   saved 2,5                                      only when a position is saved
//   flags wrap reverse                             only the flags that are set
//   maps receive=graphics send=latin               only when a map is not LatinToOemTable
//   charsets G0=0 G1=B                             only designated sets
//   literal 3                                      only during a literal run
//   escape "[12;"                                  only while a sequence is being collected
//   0|text of line 0                               visible lines with text, trailing spaces cut
//   ~0|hidden                                      cells Cols..132 of a line, when not blank
//   @0|0Fx5 07x128                                 attributes of all 133 cells as runs, for lines
//                                                  0..Rows-1 that hold anything but attribute 07
//
// Bytes outside 0x20..0x7E and the backslash are written as \xHH.
#pragma once

#include "terminal/Screen.h"

#include <string>

namespace terminal {

std::string DumpScreen(const TScreen& screen);

// The characters of cells [first, last] of one line, as DumpScreen writes them (no trimming).
std::string DumpCells(const TLine& line, int first, int last);

}  // namespace terminal
