#pragma once
// The message list's column widths in pixels: the window sizes its columns by them and
// edb2eml's rows --json reports them.
#include "catalog/list_rows.h"

#include <cstddef>

namespace edb {

// Width of column `column` (0-based, in ListColumnsFor's order) of a `layout` list; 0 past the
// last column.
[[nodiscard]] int ListColumnWidth(ListLayout layout, std::size_t column);

} // namespace edb
