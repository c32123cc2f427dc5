#include "command_line.h"
#include "command_line_p.h"

#include <QtCore/qfile.h>
#include <QtCore/qtextcodec.h>

namespace {

// MAX_ARG_STRLEN: one argument of an exec, its terminating NUL included.
constexpr int LongestArgumentBytes = 32 * 4096;

// Lone surrogates U+DC80 to U+DCFF stand for the bytes 0x80 to 0xFF that
// are no part of a UTF-8 sequence.
constexpr ushort EscapeBase = 0xDC00;

// The length of the well-formed UTF-8 sequence at data[0] (shortest form,
// no surrogates, at most U+10FFFF), its code point in *codePoint; 0 when
// there is none, -1 when the bytes so far start one that is cut off.
int utf8SequenceAt(const uchar *data, int available, uint *codePoint)
{
    const uchar lead = data[0];
    int length = 0;
    uint value = 0, least = 0;
    if (lead < 0x80)
        return *codePoint = lead, 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, value = lead & 0x1F, least = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, value = lead & 0x0F, least = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, value = lead & 0x07, least = 0x10000;
    else
        return 0;
    for (int i = 1; i < length; ++i) {
        if (i >= available)
            return -1;
        if ((data[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (data[i] & 0x3F);
        // Overlong forms, surrogates and values past U+10FFFF show after
        // the second byte.
        if (i == 1 && length > 2) {
            const uint top = value << (6 * (length - 2));
            if (top < least || (top >= 0xD800 && top <= 0xDFFF) || top > 0x10FFFF)
                return 0;
        }
    }
    if (value < least)
        return 0;
    *codePoint = value;
    return length;
}

QString decodeEscaped(const uchar *data, int size, QByteArray *cutOff)
{
    QString text;
    text.reserve(size);
    int i = 0;
    while (i < size) {
        uint codePoint = 0;
        const int length = utf8SequenceAt(data + i, size - i, &codePoint);
        if (length == -1 && cutOff) {
            *cutOff = QByteArray(reinterpret_cast<const char *>(data + i), size - i);
            break;
        }
        if (length <= 0) {
            text.append(QChar(ushort(EscapeBase + data[i])));
            ++i;
            continue;
        }
        if (codePoint > 0xFFFF) {
            text.append(QChar(QChar::highSurrogate(codePoint)));
            text.append(QChar(QChar::lowSurrogate(codePoint)));
        } else {
            text.append(QChar(ushort(codePoint)));
        }
        i += length;
    }
    return text;
}

QByteArray encodeEscaped(const QChar *text, int size)
{
    QByteArray bytes;
    bytes.reserve(size * 3);
    for (int i = 0; i < size; ++i) {
        uint codePoint = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < size && text[i + 1].isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        } else if (codePoint >= EscapeBase + 0x80 && codePoint <= EscapeBase + 0xFF) {
            bytes.append(char(codePoint - EscapeBase));
            continue;
        } else if (text[i].isSurrogate()) {
            bytes.append('?'); // no byte stands for it
            continue;
        }
        appendUtf8(&bytes, codePoint);
    }
    return bytes;
}

// UTF-8 that keeps every byte, for the framework's 8-bit conversions. A
// sequence cut off at the end of a chunk waits in the state for the next.
class EscapingUtf8Codec : public QTextCodec
{
public:
    QByteArray name() const override { return QByteArrayLiteral("UTF-8-escaped-bytes"); }
    int mibEnum() const override { return -0x56454C; } // none of IANA's

protected:
    QString convertToUnicode(const char *in, int length, ConverterState *state) const override
    {
        QByteArray pending;
        if (state && state->remainingChars > 0) {
            pending = QByteArray(reinterpret_cast<const char *>(state->state_data), state->remainingChars);
            state->remainingChars = 0;
        }
        pending.append(in, length);
        QByteArray cutOff;
        const QString text = decodeEscaped(reinterpret_cast<const uchar *>(pending.constData()), pending.size(),
                                           state ? &cutOff : nullptr);
        if (state) {
            for (int i = 0; i < cutOff.size(); ++i)
                state->state_data[i] = uint(uchar(cutOff.at(i)));
            state->remainingChars = cutOff.size();
        }
        return text;
    }
    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *) const override
    {
        return encodeEscaped(in, length);
    }
};

} // namespace

bool fitsOneStart(const QString &, const QString &argument)
{
    return QFile::encodeName(argument).size() + 1 <= LongestArgumentBytes;
}

QString pathForList(const QString &path)
{
    return path;
}

void allowToComeForward(qint64)
{
    // Window managers here decide for themselves.
}

void keepPathBytesExact()
{
    // The framework keeps every codec it is given for the life of the
    // process.
    static QTextCodec *codec = new EscapingUtf8Codec;
    QTextCodec::setCodecForLocale(codec);
}

QByteArray pathToBytes(const QString &path)
{
    return encodeEscaped(path.constData(), path.size());
}

QString pathFromBytes(const QByteArray &bytes)
{
    return decodeEscaped(reinterpret_cast<const uchar *>(bytes.constData()), bytes.size(), nullptr);
}
