#pragma once

#include <wx/listctrl.h>

#include <map>
#include <vector>

namespace glimmark {

// A report list whose columns fit their texts: the other columns are as wide
// as their widest text in the list's font, and the path columns share the
// rest of the width, so that no empty column is left over and the columns
// grow with the list. A path too long for its column is shown cut in the
// middle, which keeps its file name in view, and in full in the tooltip
// over it. Rows are made and read through insertRow, setText and text,
// which keep the full texts. UI thread only.
class TextList : public wxListCtrl {
public:
    TextList(wxWindow* parent, int id);
    ~TextList() override;

    void addColumn(const wxString& title, wxListColumnFormat format, bool isPath);
    // A column other than a path column is at least as wide as this text.
    void setMinimumText(int column, const wxString& text);

    // A new empty row at index; its index.
    long insertRow(long index);
    void setText(long row, int column, const wxString& text);
    // The full text of a cell.
    wxString text(long row, int column) const;
    // The text the cell shows, which may be cut.
    wxString shownText(long row, int column) const;
    // A note on the whole row, shown in the tooltip over any of its cells
    // (after the full text of a cut cell); empty removes it.
    void setRowTip(long row, const wxString& tip);
    wxString rowTip(long row) const;
    // The tooltip over a cell: its full text when it is cut, and the row's
    // note; empty for none.
    wxString tipAt(long row, int column) const;

    // Sizes the columns to the texts and the list's width and cuts the path
    // texts to their columns; done on every change of size.
    void fitColumns();

private:
    struct Column {
        bool isPath = false;
        int contentWidth = 0;  // widest text so far, margins included
        int minimumWidth = 0;  // the title's or setMinimumText's
    };

    int textWidth(const wxString& text) const;
    wxString cutPath(const wxString& path, int width) const;
    void showCell(long row, int column, int width);
    void onPointer(wxMouseEvent& event);
    void onKey(wxListEvent& event);
    void onRowDeleted(wxListEvent& event);
    void onAllDeleted(wxListEvent& event);
    void onSize(wxSizeEvent& event);

    std::vector<Column> m_columns;
    std::map<wxUIntPtr, std::vector<wxString>> m_texts;  // by the row's item data
    std::map<wxUIntPtr, wxString> m_rowTips;             // likewise
    wxUIntPtr m_nextKey = 1;
    bool m_fitting = false;
};

}  // namespace glimmark
