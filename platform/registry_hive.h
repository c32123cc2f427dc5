#ifndef REGISTRY_HIVE_H
#define REGISTRY_HIVE_H

#include <QtCore/qlist.h>
#include <QtCore/qstringlist.h>

// The keys and values of one registry root, held as a registry editor
// exports them:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\SOFTWARE\Classes\.pdf]
//   @="Vellix.exe"
//   "Name"="text with \\ and \" escaped"
//
// Values of other types (dword:, hex:, with their continuation lines) are
// kept as they stand. A key's parent keys are listed too.
class RegistryHive
{
public:
    enum Encoding {
        Utf8,          // a new file's, and any file without a byte-order mark
        Utf8WithMark,
        Utf16LE,       // with its byte-order mark: the registry editor's own
    };

    // False for text that is not such an export in one of the encodings;
    // the hive must then not be written back over the file. The file is
    // written back in the encoding it had.
    bool parse(const QByteArray &text);
    QByteArray serialize() const;

    // Key paths are full paths; "/" and "\" both separate key names, and
    // names compare without regard to letter case. A value named "." or ""
    // is the key's default value.
    void setString(const QString &keyPath, const QString &name, const QString &data);
    void remove(const QString &keyPath, const QString &name);
    QString stringValue(const QString &keyPath, const QString &name) const;
    bool hasKey(const QString &keyPath) const;
    bool isEmpty() const { return keys.isEmpty(); }

    // "HKEY_CURRENT_USER" for any path beneath it.
    static QString rootOf(const QString &keyPath);

private:
    struct Value
    {
        QString name;       // empty for the default value
        QStringList data;   // the text after '=', then any continuation lines
    };
    struct Key
    {
        QString path;
        QList<Value> values;
    };

    int indexOfKey(const QString &path) const;
    Key &ensureKey(const QStringList &names);

    QList<Key> keys;
    QByteArray newline = "\n";
    Encoding encoding = Utf8;
};

#endif // REGISTRY_HIVE_H
