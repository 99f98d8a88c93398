#include "terminal/XlatTables.h"

namespace terminal {

namespace {

constexpr XlatTable MakeLatinToOem()
{
    constexpr std::uint8_t kUpperHalf[96] = {// 0xA0..0xAF
                                             0xB1, 0xAD, 0x9B, 0x9C, 0x0F, 0x9D, 0xB3, 0x15, 0x20,
                                             0x43, 0xA6, 0xAE, 0xAA, 0xC4, 0x52, 0xC4,
                                             // 0xB0..0xBF
                                             0xF8, 0xF1, 0xFD, 0x20, 0x27, 0xE6, 0x14, 0xFA, 0x2C,
                                             0x20, 0xA7, 0xAF, 0xAC, 0xAB, 0x20, 0xA8,
                                             // 0xC0..0xCF
                                             0x41, 0x41, 0x41, 0x41, 0x8E, 0x8F, 0x92, 0x80, 0x45,
                                             0x45, 0x45, 0x45, 0x45, 0x49, 0x49, 0x49,
                                             // 0xD0..0xDF
                                             0x44, 0xA5, 0x4F, 0x4F, 0x4F, 0x4F, 0x4F, 0x78, 0xED,
                                             0x55, 0x55, 0x55, 0x55, 0x59, 0x70, 0xE1,
                                             // 0xE0..0xEF
                                             0x85, 0xA0, 0x83, 0x61, 0x84, 0x86, 0x91, 0x87, 0x8A,
                                             0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x49,
                                             // 0xF0..0xFF
                                             0x64, 0xA4, 0x95, 0xA2, 0x93, 0x6F, 0x94, 0xF6, 0xED,
                                             0x97, 0xA3, 0x96, 0x9A, 0x79, 0x70, 0x98};
    XlatTable t{};
    for (int i = 0; i < 0x80; ++i)
        t[i] = static_cast<std::uint8_t>(i);
    for (int i = 0x80; i < 0xA0; ++i)
        t[i] = 0x20;
    for (int i = 0; i < 96; ++i)
        t[0xA0 + i] = kUpperHalf[i];
    return t;
}

constexpr XlatTable MakeLineGraphics()
{
    XlatTable t = MakeLatinToOem();
    t['j'] = 0xD9;  // lower right corner
    t['k'] = 0xBF;  // upper right corner
    t['l'] = 0xDA;  // upper left corner
    t['m'] = 0xC0;  // lower left corner
    t['n'] = 0xC5;  // crossing
    t['q'] = 0xC4;  // horizontal line
    t['t'] = 0xC3;  // tee pointing right
    t['u'] = 0xB4;  // tee pointing left
    t['v'] = 0xC1;  // tee pointing up
    t['w'] = 0xC2;  // tee pointing down
    t['x'] = 0xB3;  // vertical line
    return t;
}

}  // namespace

constinit const XlatTable LatinToOemTable = MakeLatinToOem();
constinit const XlatTable LineGraphicsTable = MakeLineGraphics();

}  // namespace terminal
