#include "command_line_p.h"

// What every platform shares.

void appendUtf8(QByteArray *bytes, uint codePoint)
{
    if (codePoint < 0x80) {
        bytes->append(char(codePoint));
    } else if (codePoint < 0x800) {
        bytes->append(char(0xC0 | (codePoint >> 6)));
        bytes->append(char(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        bytes->append(char(0xE0 | (codePoint >> 12)));
        bytes->append(char(0x80 | ((codePoint >> 6) & 0x3F)));
        bytes->append(char(0x80 | (codePoint & 0x3F)));
    } else {
        bytes->append(char(0xF0 | (codePoint >> 18)));
        bytes->append(char(0x80 | ((codePoint >> 12) & 0x3F)));
        bytes->append(char(0x80 | ((codePoint >> 6) & 0x3F)));
        bytes->append(char(0x80 | (codePoint & 0x3F)));
    }
}
