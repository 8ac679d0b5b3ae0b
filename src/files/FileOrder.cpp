#include "files/FileOrder.h"

#include <algorithm>
#include <numeric>

#include <QString>

namespace tessaly {

namespace {

// Qt's collator for the C locale compares code points, ignoring case and numeric settings;
// a system without a set language still gets names in the order people expect.
QLocale collationLocale()
{
    const QLocale locale;
    return locale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : locale;
}

} // namespace

FileOrder::FileOrder()
    : m_collator(collationLocale())
{
    m_collator.setNumericMode(true);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

void FileOrder::setFiles(std::vector<PhoneFile> files)
{
    m_files = std::move(files);
    m_keys.clear();
    m_keys.reserve(m_files.size());
    for (const PhoneFile& file : m_files)
        m_keys.push_back(m_collator.sortKey(QString::fromStdString(file.name)));
}

int FileOrder::compareNames(std::size_t a, std::size_t b) const
{
    const int byKey = m_keys[a].compare(m_keys[b]);
    if (byKey != 0)
        return byKey;
    // Names equal to the collator ("a" and "A") still get one fixed order.
    return m_files[a].name.compare(m_files[b].name);
}

std::vector<std::size_t> FileOrder::sorted(Key key, bool ascending) const
{
    std::vector<std::size_t> order(m_files.size());
    std::iota(order.begin(), order.end(), std::size_t { 0 });
    const auto isFolder = [&](std::size_t i) { return m_files[i].kind == PhoneFile::Kind::folder; };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (isFolder(a) != isFolder(b))
            return isFolder(a);
        int difference = 0;
        if (key == Key::name) {
            difference = compareNames(a, b);
        } else {
            const std::int64_t left = key == Key::size ? m_files[a].size : m_files[a].modified;
            const std::int64_t right = key == Key::size ? m_files[b].size : m_files[b].modified;
            difference = left < right ? -1 : (left > right ? 1 : 0);
        }
        if (difference != 0)
            return ascending ? difference < 0 : difference > 0;
        return compareNames(a, b) < 0;
    });
    return order;
}

} // namespace tessaly
