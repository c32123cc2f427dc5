#include "registry_hive.h"

#include <QtCore/qregularexpression.h>
#include <QtCore/qtextcodec.h>

namespace {

const char header[] = "Windows Registry Editor Version 5.00";

QStringList keyNames(const QString &keyPath)
{
    static const QRegularExpression separators(QStringLiteral("[\\\\/]+"));
    return keyPath.split(separators, Qt::SkipEmptyParts);
}

// The path with "\" between its names, for comparing with the keys' own.
QString backslashedPath(const QString &keyPath)
{
    return keyNames(keyPath).join(QLatin1Char('\\'));
}

bool samePath(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool isBeneath(const QString &path, const QString &ancestor)
{
    return path.size() > ancestor.size() && path.at(ancestor.size()) == QLatin1Char('\\')
            && samePath(path.left(ancestor.size()), ancestor);
}

QString defaultName(const QString &name)
{
    return name == QLatin1String(".") ? QString() : name;
}

QString quoted(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    out.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

// Reads a quoted string starting at `from`; returns the index after its
// closing quote, or -1 when it is not one.
int unquote(const QString &text, int from, QString *out)
{
    if (from >= text.size() || text.at(from) != QLatin1Char('"'))
        return -1;
    out->clear();
    for (int i = from + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('"'))
            return i + 1;
        if (c == QLatin1Char('\\') && i + 1 < text.size()
            && (text.at(i + 1) == QLatin1Char('\\') || text.at(i + 1) == QLatin1Char('"'))) {
            out->append(text.at(++i));
            continue;
        }
        out->append(c);
    }
    return -1;
}

} // namespace

QString RegistryHive::rootOf(const QString &keyPath)
{
    return keyNames(keyPath).value(0).toUpper();
}

// A registry editor writes its exports in UTF-16LE with a byte-order mark;
// files written by hand or by other tools are UTF-8, with a mark or without.
static RegistryHive::Encoding encodingOf(const QByteArray &bytes)
{
    if (bytes.startsWith("\xff\xfe"))
        return RegistryHive::Utf16LE;
    if (bytes.startsWith("\xef\xbb\xbf"))
        return RegistryHive::Utf8WithMark;
    return RegistryHive::Utf8;
}

bool RegistryHive::parse(const QByteArray &bytes)
{
    keys.clear();
    encoding = encodingOf(bytes);
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const char *codec = encoding == Utf16LE ? "UTF-16LE" : "UTF-8";
    const int mark = encoding == Utf16LE ? 2 : encoding == Utf8WithMark ? 3 : 0;
    if (encoding == Utf16LE && bytes.size() % 2 != 0)
        return false;
    const QString text = QTextCodec::codecForName(codec)->toUnicode(bytes.constData() + mark, bytes.size() - mark, &state);
    if (state.invalidChars > 0 || state.remainingChars > 0 || text.contains(QChar(0)) || text.startsWith(QChar(0xFEFF)))
        return false;
    if (text.isEmpty())
        return true;
    newline = text.contains(QLatin1String("\r\n")) ? "\r\n" : "\n";

    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    if (lines.first() != QLatin1String(header))
        return false;

    Key *key = nullptr;
    for (int i = 1; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line.trimmed().isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')) || line.size() < 3 || line.at(1) == QLatin1Char('-'))
                return false;
            keys.append(Key{ line.mid(1, line.size() - 2), {} });
            key = &keys.last();
            continue;
        }
        if (!key)
            return false;

        Value value;
        int equals = -1;
        if (line.startsWith(QLatin1String("@="))) {
            equals = 1;
        } else {
            const int end = unquote(line, 0, &value.name);
            if (end < 0 || end >= line.size() || line.at(end) != QLatin1Char('=') || value.name.isEmpty())
                return false;
            equals = end;
        }
        const QString data = line.mid(equals + 1);
        value.data.append(data);
        if (data.startsWith(QLatin1Char('"'))) {
            QString decoded;
            if (unquote(data, 0, &decoded) != data.size())
                return false;
        } else {
            // Binary data goes on over lines that end in a backslash, onto
            // indented lines; a key or value line never continues one.
            while (value.data.last().endsWith(QLatin1Char('\\')) && i + 1 < lines.size()
                   && (lines.at(i + 1).startsWith(QLatin1Char(' ')) || lines.at(i + 1).startsWith(QLatin1Char('\t'))))
                value.data.append(lines.at(++i));
        }
        key->values.append(value);
    }
    return true;
}

QByteArray RegistryHive::serialize() const
{
    const QString nl = QString::fromLatin1(newline);
    QString out = QLatin1String(header) + nl + nl;
    for (const Key &key : keys) {
        out += QLatin1Char('[') + key.path + QLatin1Char(']') + nl;
        for (const Value &value : key.values) {
            out += value.name.isEmpty() ? QStringLiteral("@") : quoted(value.name);
            out += QLatin1Char('=') + value.data.join(nl) + nl;
        }
        out += nl;
    }
    switch (encoding) {
    case Utf16LE: {
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        return "\xff\xfe" + QTextCodec::codecForName("UTF-16LE")->fromUnicode(out.constData(), out.size(), &state);
    }
    case Utf8WithMark:
        return "\xef\xbb\xbf" + out.toUtf8();
    case Utf8:
        break;
    }
    return out.toUtf8();
}

int RegistryHive::indexOfKey(const QString &path) const
{
    for (int i = 0; i < keys.size(); ++i) {
        if (samePath(keys.at(i).path, path))
            return i;
    }
    return -1;
}

// The key and every parent of it below the root; a new key goes after the
// last key beneath its parent, so the file reads as a tree.
RegistryHive::Key &RegistryHive::ensureKey(const QStringList &names)
{
    int index = -1;
    QString path = names.value(0).toUpper();
    for (int depth = 1; depth < names.size(); ++depth) {
        const QString parent = path;
        path += QLatin1Char('\\') + names.at(depth);
        index = indexOfKey(path);
        if (index >= 0) {
            path = keys.at(index).path;
            continue;
        }
        int insertAt = keys.size();
        const int parentIndex = depth > 1 ? indexOfKey(parent) : -1;
        if (parentIndex >= 0) {
            insertAt = parentIndex + 1;
            while (insertAt < keys.size() && isBeneath(keys.at(insertAt).path, parent))
                ++insertAt;
        }
        keys.insert(insertAt, Key{ path, {} });
        index = insertAt;
    }
    return keys[index];
}

void RegistryHive::setString(const QString &keyPath, const QString &name, const QString &data)
{
    const QStringList names = keyNames(keyPath);
    // A line-based file cannot hold a line break inside a value.
    if (names.size() < 2 || data.contains(QLatin1Char('\n')) || data.contains(QLatin1Char('\r'))
        || name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char('\r')))
        return;
    Key &key = ensureKey(names);
    const QString valueName = defaultName(name);
    for (Value &value : key.values) {
        if (samePath(value.name, valueName)) {
            value.data = QStringList{ quoted(data) };
            return;
        }
    }
    key.values.append(Value{ valueName, QStringList{ quoted(data) } });
}

void RegistryHive::remove(const QString &keyPath, const QString &name)
{
    const QString parent = backslashedPath(keyPath);
    if (parent.isEmpty() || name.isEmpty())
        return;
    const QString subkey = backslashedPath(name);
    if (!subkey.isEmpty()) {
        const QString target = parent + QLatin1Char('\\') + subkey;
        for (int i = keys.size() - 1; i >= 0; --i) {
            if (samePath(keys.at(i).path, target) || isBeneath(keys.at(i).path, target))
                keys.removeAt(i);
        }
    }
    const int index = indexOfKey(parent);
    if (index < 0)
        return;
    QList<Value> &values = keys[index].values;
    const QString valueName = defaultName(name);
    for (int i = values.size() - 1; i >= 0; --i) {
        if (samePath(values.at(i).name, valueName))
            values.removeAt(i);
    }
}

QString RegistryHive::stringValue(const QString &keyPath, const QString &name) const
{
    const int index = indexOfKey(backslashedPath(keyPath));
    if (index < 0)
        return QString();
    const QString valueName = defaultName(name);
    for (const Value &value : keys.at(index).values) {
        QString decoded;
        if (samePath(value.name, valueName) && unquote(value.data.first(), 0, &decoded) > 0)
            return decoded;
    }
    return QString();
}

bool RegistryHive::hasKey(const QString &keyPath) const
{
    return indexOfKey(backslashedPath(keyPath)) >= 0;
}
