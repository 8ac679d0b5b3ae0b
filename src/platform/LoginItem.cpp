#include "platform/LoginItem.h"

#include <utility>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace tessaly {

namespace {

// Entries are a few hundred bytes; a huge file is not ours and is not read whole.
constexpr qint64 kEntryReadLimit = 64 * 1024;

QString entryFileName()
{
    return QStringLiteral("tessaly.desktop");
}

// The Exec key's quoting: a path with a reserved character is put in double quotes with
// ", `, $ and \ escaped; then the value's own escaping doubles every backslash, and a
// literal % is written %% so it is not read as a field code.
QString execValue(const QString& path)
{
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : path) {
        if (reserved.contains(c))
            needsQuotes = true;
    }
    QString quoted;
    if (needsQuotes) {
        quoted += QLatin1Char('"');
        for (const QChar c : path) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
                || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        quoted += QLatin1Char('"');
    } else {
        quoted = path;
    }
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return quoted;
}

std::string describe(const QString& what, const QString& path, const QString& reason)
{
    return (what + QLatin1Char(' ') + path + QStringLiteral(": ") + reason).toStdString();
}

} // namespace

LoginItem::LoginItem()
    : LoginItem(standardAutostartFolder(), QCoreApplication::applicationFilePath())
{
}

LoginItem::LoginItem(QString autostartFolder, QString executable)
    : m_folder(std::move(autostartFolder))
    , m_executable(std::move(executable))
{
}

QString LoginItem::standardAutostartFolder()
{
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configHome.isEmpty() && QDir::isAbsolutePath(configHome))
        return configHome + QStringLiteral("/autostart");
    return QDir::homePath() + QStringLiteral("/.config/autostart");
}

QString LoginItem::entryPath() const
{
    return m_folder + QLatin1Char('/') + entryFileName();
}

bool LoginItem::isEnabled() const
{
    const QFileInfo info(entryPath());
    if (!info.isFile())
        return false;
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return true; // there is an entry; we cannot tell that it is switched off
    return !isHidden(QString::fromUtf8(file.read(kEntryReadLimit)));
}

std::optional<std::string> LoginItem::setEnabled(bool enabled)
{
    return enabled ? writeEntry() : removeEntry();
}

std::optional<std::string> LoginItem::writeEntry() const
{
    if (m_executable.isEmpty() || !QDir::isAbsolutePath(m_executable))
        return "Couldn’t tell where Tessaly itself is installed.";
    const auto text = desktopEntry(m_executable);
    if (!text)
        return describe(QStringLiteral("Tessaly’s location can’t be written into an autostart entry:"),
            m_executable, QStringLiteral("it contains control characters"));
    if (!QDir().mkpath(m_folder))
        return describe(QStringLiteral("Couldn’t create the folder"), m_folder,
            QStringLiteral("it is not writable or a file is in the way"));
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly))
        return describe(QStringLiteral("Couldn’t write"), entryPath(), file.errorString());
    const QByteArray bytes = text->toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit())
        return describe(QStringLiteral("Couldn’t write"), entryPath(), file.errorString());
    return std::nullopt;
}

std::optional<std::string> LoginItem::removeEntry() const
{
    QFile file(entryPath());
    const QFileInfo info(entryPath());
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    if (!file.remove())
        return describe(QStringLiteral("Couldn’t remove"), entryPath(), file.errorString());
    return std::nullopt;
}

std::optional<QString> LoginItem::desktopEntry(const QString& executable)
{
    for (const QChar c : executable) {
        if (c.category() == QChar::Other_Control)
            return std::nullopt;
    }
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Tessaly\n"
                          "Comment=Use your Android phone from this computer\n"
                          "Exec=")
        + execValue(executable)
        + QStringLiteral("\n"
                         "Icon=tessaly\n"
                         "Terminal=false\n"
                         "X-GNOME-Autostart-enabled=true\n");
}

bool LoginItem::isHidden(const QString& entryText)
{
    bool inMainGroup = false;
    const auto lines = QStringView(entryText).split(QLatin1Char('\n'));
    for (QStringView line : lines) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        if (line.left(equals).trimmed() == QLatin1String("Hidden")
            && line.mid(equals + 1).trimmed() == QLatin1String("true"))
            return true;
    }
    return false;
}

} // namespace tessaly
