#pragma once

#include <cstddef>
#include <vector>

#include <QCollator>
#include <QCollatorSortKey>

#include "phone/PhoneFiles.h"

namespace tessaly {

// The order of the files table: folders first in both directions, then by the chosen key, ties
// by name. Names compare as people expect ("file2" before "file10", letter case aside); the
// collation keys are made once per listing, so re-sorting a large folder stays fast.
class FileOrder {
public:
    enum class Key { name, size, date };

    FileOrder();

    // Takes a new listing; the collation keys are made here.
    void setFiles(const std::vector<PhoneFile>& files);
    // Indexes into the listing, in display order.
    std::vector<std::size_t> sorted(Key key, bool ascending) const;

private:
    int compareNames(std::size_t a, std::size_t b) const;

    QCollator m_collator;
    std::vector<PhoneFile> m_files;
    std::vector<QCollatorSortKey> m_keys;
};

} // namespace tessaly
