// The key codes that ReadKey returns (console.h) and that more than one piece names: the
// keyboards of each platform produce them, the match report reads them.
#ifndef QZ_CONSOLE_KEY_CODES_H_
#define QZ_CONSOLE_KEY_CODES_H_

inline constexpr int kEscKey = 27;
// The first code of a grey key of the extended keyboard (arrows, editing keys) and of the
// function keys of a terminal; the second code, the key's PC scan code, follows.
inline constexpr int kTwoCodeKey = 224;
// The second codes of F11 and F12, as the PC keyboard routines give them (their scan codes are
// 0x57 and 0x58).
inline constexpr int kF11SecondCode = 133;
inline constexpr int kF12SecondCode = 134;

#endif  // QZ_CONSOLE_KEY_CODES_H_
