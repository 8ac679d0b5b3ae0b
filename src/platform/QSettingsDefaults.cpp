#include "platform/QSettingsDefaults.h"

#include <limits>

#include <QDir>
#include <QSettings>
#include <QVariant>

namespace tessaly {

namespace {

QString configHome()
{
    // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
    const QString fromEnvironment = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!fromEnvironment.isEmpty() && QDir::isAbsolutePath(fromEnvironment))
        return fromEnvironment;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString keyText(const std::string& key)
{
    return QString::fromStdString(key);
}

Defaults::Object objectFromVariant(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return static_cast<std::int64_t>(value.toLongLong());
    case QMetaType::ULongLong: {
        const qulonglong number = value.toULongLong();
        if (number > static_cast<qulonglong>(std::numeric_limits<std::int64_t>::max()))
            return Defaults::Other {};
        return static_cast<std::int64_t>(number);
    }
    case QMetaType::QString: {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
        return text.toStdString();
    }
    default:
        return Defaults::Other {};
    }
}

} // namespace

QSettingsDefaults::QSettingsDefaults()
    : QSettingsDefaults(standardFileName())
{
}

QSettingsDefaults::QSettingsDefaults(const QString& fileName)
    : m_settings(std::make_unique<QSettings>(fileName, QSettings::IniFormat))
{
}

QSettingsDefaults::~QSettingsDefaults() = default;

QString QSettingsDefaults::standardFileName()
{
    return configHome() + QStringLiteral("/Tessaly/Tessaly.conf");
}

QString QSettingsDefaults::fileName() const
{
    return m_settings->fileName();
}

std::optional<Defaults::Object> QSettingsDefaults::object(const std::string& key) const
{
    if (key.empty() || !m_settings->contains(keyText(key)))
        return std::nullopt;
    return objectFromVariant(m_settings->value(keyText(key)));
}

void QSettingsDefaults::write(const std::string& key, const Object& value)
{
    if (key.empty())
        return;
    QVariant stored;
    if (const auto* flag = std::get_if<bool>(&value))
        stored = *flag;
    else if (const auto* number = std::get_if<std::int64_t>(&value))
        stored = static_cast<qlonglong>(*number);
    else if (const auto* text = std::get_if<std::string>(&value))
        stored = QString::fromStdString(*text);
    else
        stored = QStringList();
    m_settings->setValue(keyText(key), stored);
    m_settings->sync();
}

void QSettingsDefaults::remove(const std::string& key)
{
    // QSettings reads an empty key as "every key".
    if (key.empty())
        return;
    m_settings->remove(keyText(key));
    m_settings->sync();
}

} // namespace tessaly
