// The INI settings store: reading and writing keys, section helpers, atomic replacement of the
// file.
#include "framework/spz1_ini.h"

#include <cstdint>
#include <functional>
#include <span>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include "framework/spz1_messages.h"
#include "framework/spz1_paths.h"
#include "framework/spz1_text.h"
#include "platform/platform_folders.h"
#include "platform/platform_fs.h"
#include "platform/platform_publish.h"

namespace parvula::framework {

namespace {

    constexpr qsizetype kMaxValueLength = 2047;
    // Another writer of the same file (a second instance of the program) holds the lock only for
    // one rewrite; waiting longer than this means it hangs.
    constexpr int kLockTimeoutMs = 10000;

    // UTF-8 is what we write; a file that starts with a UTF-16 byte-order mark stays UTF-16; a
    // file that is no valid UTF-8 (an older 8-bit file) is read as Latin-1 so that rewriting one
    // key gives its other lines back byte for byte.
    enum class TEncoding { Utf8, Utf8Bom, Utf16LE, Utf16BE, Latin1 };

    struct TIniText {
        QStringList lines;
        TEncoding encoding = TEncoding::Utf8;
    };

    errors::EError WriteError(const QString& path)
    {
        return Error(errors::TCode::SettingsCannotWrite, QDir::toNativeSeparators(path));
    }

    errors::EError ReadError(const QString& path)
    {
        return Error(errors::TCode::SettingsCannotRead, QDir::toNativeSeparators(path));
    }

    bool IsBlank(QChar c) { return c == u' ' || c == u'\t'; }

    QString TrimBlanks(const QString& s)
    {
        qsizetype from = 0;
        qsizetype to = s.size();
        while (from < to && IsBlank(s.at(from)))
            ++from;
        while (to > from && IsBlank(s.at(to - 1)))
            --to;
        return s.mid(from, to - from);
    }

    // Control characters and blanks at both ends (every code up to 32).
    QString TrimControls(const QString& s)
    {
        qsizetype from = 0;
        qsizetype to = s.size();
        while (from < to && s.at(from).unicode() <= 32)
            ++from;
        while (to > from && s.at(to - 1).unicode() <= 32)
            --to;
        return s.mid(from, to - from);
    }

    QString DecodeWith(QStringConverter::Encoding encoding, QByteArrayView bytes, bool* error)
    {
        QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
        QString text = decoder(bytes);
        if (error)
            *error = decoder.hasError();
        return text;
    }

    TIniText Decode(const QByteArray& bytes)
    {
        TIniText result;
        QString text;
        if (bytes.startsWith("\xFF\xFE")) {
            result.encoding = TEncoding::Utf16LE;
            text = DecodeWith(QStringConverter::Utf16LE, QByteArrayView(bytes).sliced(2), nullptr);
        } else if (bytes.startsWith("\xFE\xFF")) {
            result.encoding = TEncoding::Utf16BE;
            text = DecodeWith(QStringConverter::Utf16BE, QByteArrayView(bytes).sliced(2), nullptr);
        } else if (bytes.startsWith("\xEF\xBB\xBF")) {
            result.encoding = TEncoding::Utf8Bom;
            text = DecodeWith(QStringConverter::Utf8, QByteArrayView(bytes).sliced(3), nullptr);
        } else {
            bool bad = false;
            text = DecodeWith(QStringConverter::Utf8, bytes, &bad);
            if (bad) {
                result.encoding = TEncoding::Latin1;
                text = QString::fromLatin1(bytes);
            }
        }
        if (text.isEmpty())
            return result;
        result.lines = text.split(u'\n');
        // A final line end closes the last line; it does not open an empty one.
        if (text.endsWith(u'\n'))
            result.lines.removeLast();
        for (QString& line : result.lines) {
            if (line.endsWith(u'\r'))
                line.chop(1);
        }
        return result;
    }

    bool FitsLatin1(const QString& text)
    {
        for (QChar c : text) {
            if (c.unicode() > 0xFF)
                return false;
        }
        return true;
    }

    QByteArray Encode(const TIniText& ini)
    {
        QString text;
        for (const QString& line : ini.lines) {
            text += line;
            text += QStringLiteral("\r\n");
        }
        switch (ini.encoding) {
        case TEncoding::Utf16LE:
            return QByteArray("\xFF\xFE", 2) + QStringEncoder(QStringConverter::Utf16LE)(text);
        case TEncoding::Utf16BE:
            return QByteArray("\xFE\xFF", 2) + QStringEncoder(QStringConverter::Utf16BE)(text);
        case TEncoding::Utf8Bom:
            return QByteArray("\xEF\xBB\xBF", 3) + text.toUtf8();
        case TEncoding::Latin1:
            // A new value outside Latin-1 would be lost as "?"; the file becomes UTF-8 instead.
            if (FitsLatin1(text))
                return text.toLatin1();
            return text.toUtf8();
        case TEncoding::Utf8:
            break;
        }
        return text.toUtf8();
    }

    // False when the file exists but cannot be read; a missing file reads as empty.
    bool LoadIni(const QString& path, TIniText& ini)
    {
        ini = TIniText();
        QFile file(path);
        if (!file.exists())
            return true;
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return false;
        ini = Decode(bytes);
        return true;
    }

    // "[name]" with blanks around allowed; the name is what lies between the first "[" and the
    // last "]", so a name that holds "]" itself is found again.
    bool SectionOfLine(const QString& line, QString& name)
    {
        const QString t = TrimBlanks(line);
        if (!t.startsWith(u'['))
            return false;
        const qsizetype close = t.lastIndexOf(u']');
        name = TrimBlanks(close < 0 ? t.mid(1) : t.mid(1, close - 1));
        return true;
    }

    bool KeyOfLine(const QString& line, QString& key, QString* value)
    {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            return false;
        key = TrimBlanks(line.left(eq));
        if (value)
            *value = TrimBlanks(line.mid(eq + 1));
        return true;
    }

    bool SameName(const QString& a, const QString& b)
    {
        return QString::compare(a, b, Qt::CaseInsensitive) == 0;
    }

    // Line index of the section's header, or -1. The first section of that name counts.
    qsizetype FindSection(const QStringList& lines, const QString& section)
    {
        // Header names are read trimmed, so the name asked for is trimmed too: a profile name
        // typed with a blank at its end must find the section it was saved under.
        const QString wanted = TrimBlanks(section);
        QString name;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (SectionOfLine(lines.at(i), name) && SameName(name, wanted))
                return i;
        }
        return -1;
    }

    // One past the section's last line: the next header or the end.
    qsizetype SectionEnd(const QStringList& lines, qsizetype header)
    {
        QString name;
        qsizetype i = header + 1;
        while (i < lines.size() && !SectionOfLine(lines.at(i), name))
            ++i;
        return i;
    }

    bool FindValue(
        const QStringList& lines, const QString& section, const QString& key, QString& value)
    {
        const qsizetype header = FindSection(lines, section);
        if (header < 0)
            return false;
        const qsizetype end = SectionEnd(lines, header);
        QString k;
        for (qsizetype i = header + 1; i < end; ++i) {
            if (KeyOfLine(lines.at(i), k, &value) && SameName(k, key))
                return true;
        }
        return false;
    }

    // A line break inside a name or value would cut the file's structure apart (and could
    // smuggle in keys or sections); it is stored as a blank instead.
    QString OneLine(QString text)
    {
        for (QChar& c : text) {
            if (c == u'\r' || c == u'\n')
                c = u' ';
        }
        return text;
    }

    void SetValue(
        QStringList& lines, const QString& section, const QString& key, const QString& value)
    {
        const QString entry = key + u'=' + value;
        const qsizetype header = FindSection(lines, section);
        if (header < 0) {
            lines.append(u'[' + section + u']');
            lines.append(entry);
            return;
        }
        const qsizetype end = SectionEnd(lines, header);
        QString k;
        for (qsizetype i = header + 1; i < end; ++i) {
            if (KeyOfLine(lines.at(i), k, nullptr) && SameName(k, key)) {
                // The key keeps the spelling it has in the file.
                lines[i] = k + u'=' + value;
                return;
            }
        }
        // After the section's last non-blank line, so the blank lines that separate it from the
        // next section stay between them.
        qsizetype at = end;
        while (at > header + 1 && TrimBlanks(lines.at(at - 1)).isEmpty())
            --at;
        lines.insert(at, entry);
    }

    // Reads the file, lets change alter its lines and replaces the file with the result, all under
    // a lock beside it, so that two writers never lose each other's keys and a failed write never
    // leaves a truncated file.
    void RewriteFile(const QString& path, const std::function<void(TIniText&)>& change)
    {
        const QString folder = QFileInfo(path).absolutePath();
        // A failure here shows as the failure of the lock or of the write below.
        platform::CreateFolderWithParents(folder);

        platform::TFileLock lock(path + QStringLiteral(".lock"));
        if (!lock.TryLock(kLockTimeoutMs))
            throw WriteError(path);

        TIniText ini;
        // Writing over a file we could not read would lose its content.
        if (!LoadIni(path, ini))
            throw WriteError(path);
        change(ini);
        const QByteArray bytes = Encode(ini);

        // A settings file the user made a link to is replaced where the link points.
        const QFileInfo info(path);
        const QString target = info.isSymLink() ? info.symLinkTarget() : path;
        try {
            platform::ReplaceFile(platform::ToPath(target),
                std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                    static_cast<std::size_t>(bytes.size())));
        } catch (const errors::EError&) {
            throw WriteError(path);
        }
    }

    QString ReadSettingAt(
        const QString& path, const QString& section, const QString& key, const QString& def)
    {
        if (!QFileInfo(path).isFile())
            return def;
        TIniText ini;
        if (!LoadIni(path, ini))
            return def;
        QString value;
        if (!FindValue(ini.lines, section, key, value))
            return def;
        return value.left(kMaxValueLength);
    }

} // namespace

QString DefaultSettingsSection() { return ExeBaseName(); }

QString SettingsFilePath(const QString& fileName, const QString& folder)
{
    return ExpandPath(fileName.isEmpty() ? QStringLiteral(".ini") : fileName,
        folder.isEmpty() ? SettingsFolder : folder);
}

QString ReadSetting(const QString& section, const QString& key, const QString& def,
    const QString& fileName, const QString& folder)
{
    const QString path = SettingsFilePath(fileName, folder);
    return ReadSettingAt(path, section.isEmpty() ? DefaultSettingsSection() : section, key, def);
}

bool WriteSetting(const QString& section, const QString& key, const QVariant& value,
    const QString& fileName, const QString& folder)
{
    const QString path = SettingsFilePath(fileName, folder);
    const QString sec = OneLine(section.isEmpty() ? DefaultSettingsSection() : section);
    const QString k = OneLine(key);
    const QString text = OneLine(VariantToText(value));
    if (text == ReadSettingAt(path, sec, k, QString()))
        return true;
    RewriteFile(path, [&](TIniText& ini) { SetValue(ini.lines, sec, k, text); });
    return true;
}

void ListSections(const QStringList& lines, QStringList& names, bool clearFirst)
{
    if (clearFirst)
        names.clear();
    for (const QString& line : lines) {
        if (!line.startsWith(u'['))
            continue;
        QString name = TrimControls(line);
        name.remove(u'[');
        name.remove(u']');
        names.append(name);
    }
}

bool RemoveSection(QStringList& lines, const QString& name)
{
    const QString target = u'[' + AsciiLowerCase(name) + u']';
    bool found = false;
    qsizetype i = 0;
    while (i < lines.size()) {
        if (!found) {
            if (AsciiLowerCase(lines.at(i)) == target) {
                found = true;
                lines.removeAt(i);
            } else {
                ++i;
            }
            continue;
        }
        if (lines.at(i).startsWith(u'['))
            break;
        lines.removeAt(i);
    }
    return found;
}

QStringList ReadSettingsLines(const QString& path)
{
    TIniText ini;
    if (!LoadIni(path, ini))
        throw ReadError(path);
    return ini.lines;
}

void WriteSettingsLines(const QString& path, const QStringList& lines)
{
    RewriteFile(path, [&](TIniText& ini) { ini.lines = lines; });
}

} // namespace parvula::framework
