// The console's character attributes, shared by the writers and the terminal layer below them.
#ifndef QZ_CONSOLE_CONSOLE_ATTRIBUTE_H_
#define QZ_CONSOLE_CONSOLE_ATTRIBUTE_H_

#include <cstdint>

// Console character attributes: foreground colour in bits 0-3 (blue, green, red, intensity),
// background colour in bits 4-7, the same layout as the classic PC text console.
using ConsoleAttribute = std::uint16_t;

#endif  // QZ_CONSOLE_CONSOLE_ATTRIBUTE_H_
