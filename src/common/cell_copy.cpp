#include "common/cell_copy.h"

#include <algorithm>

namespace qvlink {
namespace {

std::string flattened(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return text;
}

}  // namespace

std::string cellsAsTabSeparated(const CellGrid& grid, const CellRange& range) {
    std::string text;
    for (int row = range.top; row <= range.bottom; ++row) {
        if (row != range.top) {
            text += '\n';
        }
        for (int col = range.left; col <= range.right; ++col) {
            if (col != range.left) {
                text += '\t';
            }
            text += flattened(grid.getCellText(col, row));
        }
    }
    return text;
}

}  // namespace qvlink
