#pragma once

#include <cstddef>
#include <vector>

#include <QCollator>
#include <QCollatorSortKey>

#include "phone/PhoneFiles.h"

namespace tessaly {

// The order of the files table: folders first in both directions, then by the chosen key, ties
// by name. Names compare as people expect ("file2" before "file10", letter case aside); the
// collation keys are made once per listing, so re-sorting a large folder stays fast. A listing's
// order is made off the GUI thread and then only read.
class FileOrder {
public:
    enum class Key { name, size, date };

    FileOrder();

    // Takes a new listing; the collation keys are made here, on any thread.
    void setFiles(std::vector<PhoneFile> files);
    const std::vector<PhoneFile>& files() const { return m_files; }
    // Indexes into the listing, in display order.
    std::vector<std::size_t> sorted(Key key, bool ascending) const;

private:
    int compareNames(std::size_t a, std::size_t b) const;

    QCollator m_collator;
    std::vector<PhoneFile> m_files;
    std::vector<QCollatorSortKey> m_keys;
};

} // namespace tessaly
