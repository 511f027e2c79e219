#include "frontend/TextList.h"

#include <wx/control.h>
#include <wx/dcclient.h>

#include <algorithm>

namespace glimmark {

namespace {

// Room the list draws around a cell's text, and the least a path column is
// given in characters before the list scrolls sideways instead.
constexpr int kCellMarginChars = 1;
constexpr int kMinPathChars = 12;

}  // namespace

TextList::TextList(wxWindow* parent, int id)
    : wxListCtrl(parent, id, wxDefaultPosition, wxDefaultSize,
                 wxLC_REPORT | wxLC_HRULES | wxLC_VRULES | wxBORDER_THEME) {
    Bind(wxEVT_SIZE, &TextList::onSize, this);
    Bind(wxEVT_LIST_DELETE_ITEM, &TextList::onRowDeleted, this);
    Bind(wxEVT_LIST_DELETE_ALL_ITEMS, &TextList::onAllDeleted, this);
    Bind(wxEVT_LIST_KEY_DOWN, &TextList::onKey, this);
}

TextList::~TextList() {
    // The base class deletes the rows after this class's members are gone.
    Unbind(wxEVT_SIZE, &TextList::onSize, this);
    Unbind(wxEVT_LIST_DELETE_ITEM, &TextList::onRowDeleted, this);
    Unbind(wxEVT_LIST_DELETE_ALL_ITEMS, &TextList::onAllDeleted, this);
    Unbind(wxEVT_LIST_KEY_DOWN, &TextList::onKey, this);
}

void TextList::onKey(wxListEvent& event) {
    // The keys that move the selection start at the first row (End at the
    // last) when no row has been chosen yet; the list alone would not move
    // at all.
    long row = -1;
    switch (event.GetKeyCode()) {
        case WXK_UP:
        case WXK_DOWN:
        case WXK_HOME:
        case WXK_PAGEUP:
        case WXK_PAGEDOWN:
            row = 0;
            break;
        case WXK_END:
            row = GetItemCount() - 1;
            break;
        default:
            break;
    }
    if (row < 0 || row >= GetItemCount() || GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED) >= 0) {
        event.Skip();
        return;
    }
    SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                 wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    EnsureVisible(row);
}

void TextList::onSize(wxSizeEvent& event) {
    event.Skip();
    fitColumns();
}

void TextList::onAllDeleted(wxListEvent& event) {
    m_texts.clear();
    m_rowTips.clear();
    for (Column& column : m_columns)
        column.contentWidth = column.minimumWidth;
    event.Skip();
}

void TextList::addColumn(const wxString& title, wxListColumnFormat format, bool isPath) {
    Column column;
    column.isPath = isPath;
    column.minimumWidth = textWidth(title);
    column.contentWidth = column.minimumWidth;
    m_columns.push_back(column);
    AppendColumn(title, format, column.contentWidth);
    // The rows' window and the header are children of the list, made by
    // now; the tooltip belongs to the one under the pointer.
    if (m_columns.size() == 1) {
        for (wxWindow* child : GetChildren())
            child->Bind(wxEVT_MOTION, &TextList::onPointer, this);
    }
}

void TextList::setMinimumText(int column, const wxString& text) {
    if (column < 0 || static_cast<size_t>(column) >= m_columns.size())
        return;
    Column& info = m_columns[column];
    info.minimumWidth = std::max(info.minimumWidth, textWidth(text));
    info.contentWidth = std::max(info.contentWidth, info.minimumWidth);
    fitColumns();
}

long TextList::insertRow(long index) {
    long row = InsertItem(index, wxString());
    wxUIntPtr key = m_nextKey++;
    SetItemPtrData(row, key);
    m_texts[key].assign(m_columns.size(), wxString());
    return row;
}

void TextList::setText(long row, int column, const wxString& text) {
    auto found = m_texts.find(GetItemData(row));
    if (found == m_texts.end() || column < 0 || static_cast<size_t>(column) >= m_columns.size())
        return;
    found->second[column] = text;
    Column& info = m_columns[column];
    int width = textWidth(text);
    if (width > info.contentWidth) {
        info.contentWidth = width;
        fitColumns();
    }
    showCell(row, column, GetColumnWidth(column));
}

wxString TextList::text(long row, int column) const {
    auto found = m_texts.find(GetItemData(row));
    if (found == m_texts.end() || column < 0 || static_cast<size_t>(column) >= found->second.size())
        return wxString();
    return found->second[column];
}

wxString TextList::shownText(long row, int column) const {
    return GetItemText(row, column);
}

int TextList::textWidth(const wxString& text) const {
    return GetTextExtent(text).x + kCellMarginChars * GetCharWidth() * 2;
}

void TextList::showCell(long row, int column, int width) {
    wxString full = text(row, column);
    wxString shown = full;
    if (m_columns[column].isPath && textWidth(full) > width)
        shown = cutPath(full, width);
    if (GetItemText(row, column) != shown)
        SetItem(row, column, shown);
}

wxString TextList::cutPath(const wxString& path, int width) const {
    // The folders are cut in the middle, so that the start of the path and
    // the whole file name stay in view; a name too long even alone is cut
    // in its own middle.
    static const wxString kEllipsis = wxString::FromUTF8("\u2026");
    size_t slash = path.find_last_of('/');
    wxString folder = slash == wxString::npos ? wxString() : path.substr(0, slash);
    wxString name = slash == wxString::npos ? path : path.substr(slash);
    if (folder.empty() || textWidth(kEllipsis + name) > width) {
        wxClientDC dc(const_cast<TextList*>(this));
        dc.SetFont(GetFont());
        return wxControl::Ellipsize(path, dc, wxELLIPSIZE_MIDDLE, width - textWidth(wxString()),
                                    wxELLIPSIZE_FLAGS_NONE);
    }
    // The longest start of the folders that fits before the name.
    size_t low = 0;
    size_t high = folder.size();
    while (low < high) {
        size_t middle = (low + high + 1) / 2;
        if (textWidth(folder.substr(0, middle) + kEllipsis + name) <= width)
            low = middle;
        else
            high = middle - 1;
    }
    return folder.substr(0, low) + kEllipsis + name;
}

void TextList::fitColumns() {
    if (m_fitting || m_columns.empty())
        return;
    m_fitting = true;
    int fixed = 0;
    std::vector<size_t> paths;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].isPath)
            paths.push_back(i);
        else
            fixed += m_columns[i].contentWidth;
    }
    // The rows' own width, without a vertical scroll bar. The list's own
    // size is the new one already, its windows' may not be yet.
    int available = GetClientSize().x;
    for (wxWindow* child : GetChildren())
        available = std::min(available, GetClientSize().x - (child->GetSize().x - child->GetClientSize().x));
    // The path columns share the spare width: the narrower ones get what
    // their texts need, the rest is divided evenly among the others, and
    // what is left over widens the last one.
    std::vector<int> widths(m_columns.size());
    for (size_t i = 0; i < m_columns.size(); ++i)
        widths[i] = m_columns[i].contentWidth;
    const int minPath = kMinPathChars * GetCharWidth();
    int spare = available - fixed;
    std::vector<size_t> order = paths;
    std::sort(order.begin(), order.end(),
              [this](size_t a, size_t b) { return m_columns[a].contentWidth < m_columns[b].contentWidth; });
    int left = spare;
    for (size_t k = 0; k < order.size(); ++k) {
        int share = left / static_cast<int>(order.size() - k);
        int width = std::max(minPath, std::min(m_columns[order[k]].contentWidth, share));
        widths[order[k]] = width;
        left -= width;
    }
    if (!paths.empty() && left > 0)
        widths[paths.back()] += left;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (GetColumnWidth(static_cast<int>(i)) != widths[i])
            SetColumnWidth(static_cast<int>(i), widths[i]);
    }
    for (long row = 0; row < GetItemCount(); ++row) {
        for (size_t i = 0; i < m_columns.size(); ++i) {
            if (m_columns[i].isPath)
                showCell(row, static_cast<int>(i), GetColumnWidth(static_cast<int>(i)));
        }
    }
    m_fitting = false;
}

void TextList::onPointer(wxMouseEvent& event) {
    event.Skip();
    auto* window = dynamic_cast<wxWindow*>(event.GetEventObject());
    if (!window)
        return;
    int flags = 0;
    long row = HitTest(event.GetPosition(), flags);
    // The list finds the row only; the column is found from the widths (the
    // columns fit the width, so the rows are not scrolled sideways).
    int column = -1;
    for (int x = event.GetPosition().x, i = 0; row >= 0 && i < GetColumnCount() && x >= 0; ++i) {
        x -= GetColumnWidth(i);
        if (x < 0)
            column = i;
    }
    wxString tip;
    if (column >= 0 && (flags & wxLIST_HITTEST_ONITEM))
        tip = tipAt(row, column);
    if (tip.empty()) {
        if (window->GetToolTip())
            window->UnsetToolTip();
    } else if (window->GetToolTipText() != tip) {
        window->SetToolTip(tip);
    }
}

void TextList::setRowTip(long row, const wxString& tip) {
    if (row < 0 || row >= GetItemCount())
        return;
    if (tip.empty())
        m_rowTips.erase(GetItemData(row));
    else
        m_rowTips[GetItemData(row)] = tip;
}

wxString TextList::rowTip(long row) const {
    if (row < 0 || row >= GetItemCount())
        return wxString();
    auto found = m_rowTips.find(GetItemData(row));
    return found != m_rowTips.end() ? found->second : wxString();
}

wxString TextList::tipAt(long row, int column) const {
    wxString tip;
    if (shownText(row, column) != text(row, column))
        tip = text(row, column);
    wxString note = rowTip(row);
    if (!note.empty())
        tip = tip.empty() ? note : tip + "\n" + note;
    return tip;
}

void TextList::onRowDeleted(wxListEvent& event) {
    m_rowTips.erase(GetItemData(event.GetIndex()));
    m_texts.erase(GetItemData(event.GetIndex()));
    event.Skip();
}

}  // namespace glimmark
