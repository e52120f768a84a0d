#include "views/StatusView.h"

#include "host/framework/Clipboard.h"
#include "host/framework/Menu.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class StatusViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClipboardStandIn::Reset();
        CMenu::ResetStandIn();
        SetKeyDownForTest(VK_CONTROL, false);
    }
    void TearDown() override {
        ClipboardStandIn::Reset();
        SetKeyDownForTest(VK_CONTROL, false);
    }

    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (int i = 0; i < view.GetRowCount(); ++i)
            rows.emplace_back(view.GetListCtrl().GetItemText(i, 0).GetString());
        return rows;
    }
    void Add(const char* text) {
        CString s(text);
        view.AddLine(s);
    }
    void Select(int i) { view.GetListCtrl().SetItemState(i, LVIS_SELECTED, LVIS_SELECTED); }
    LRESULT ChooseFromMenu(UINT command) {
        CMenu::SetNextChoice(command);
        LRESULT result = 12345;
        NMHDR hdr{view.GetSafeHwnd(), 0, NM_RCLICK};
        view.OnNMRclick(&hdr, &result);
        return result;
    }

    CVRNStatusView view;
};

using Rows_t = std::vector<std::string>;

// ---------------------------------------------------------------- Print and AddLine

TEST_F(StatusViewTest, PrintFormatsOneRowWithoutTheLineFeed) {
    view.Print("Iteration Number :  %d\n", 3);
    EXPECT_EQ(Rows(), Rows_t({"Iteration Number :  3"}));
}

TEST_F(StatusViewTest, PrintUsesPrintfConversionsOfTheEngine) {
    view.Print("OPTSTP    x=%15lf g=%le n=%d", 1.5, 0.25, -7);
    EXPECT_EQ(Rows(), Rows_t({"OPTSTP    x=       1.500000 g=2.500000e-01 n=-7"}));
}

TEST_F(StatusViewTest, PrintOfALineFeedAloneAddsOneBlankRowAndEmptyFormatAddsNothing) {
    view.Print("\n");
    EXPECT_EQ(Rows(), Rows_t({" "}));
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"
    view.Print("");
#pragma GCC diagnostic pop
    EXPECT_EQ(view.GetRowCount(), 1);
}

TEST_F(StatusViewTest, PrintKeepsTextOfAnyLength) {
    const std::string longText(20000, 'x');
    view.Print("%s|%d", longText.c_str(), 42);
    ASSERT_EQ(view.GetRowCount(), 1);
    EXPECT_EQ(std::string(view.GetRowText(0)), longText + "|42");
}

TEST_F(StatusViewTest, AddLineCutsAtEveryLineFeed) {
    Add("first\nsecond");
    EXPECT_EQ(Rows(), Rows_t({"first", "second"}));
}

TEST_F(StatusViewTest, AddLineKeepsAnEmptyMiddleLineAsASpace) {
    Add("one\n\nthree");
    EXPECT_EQ(Rows(), Rows_t({"one", " ", "three"}));
}

TEST_F(StatusViewTest, AddLineFinalLineFeedAddsNoRowButLeadingOnesDo) {
    Add("line\n");
    EXPECT_EQ(Rows(), Rows_t({"line"}));
    Add("\n\nend\n\n");
    EXPECT_EQ(Rows(), Rows_t({"line", " ", " ", "end", " "}));
    Add("");
    EXPECT_EQ(view.GetRowCount(), 5);
}

TEST_F(StatusViewTest, CarriageReturnsStayInTheRowText) {
    Add("a\r\nb\r");
    EXPECT_EQ(Rows(), Rows_t({"a\r", "b\r"}));
}

TEST_F(StatusViewTest, RowsAreAppendedAfterExistingRowsInOrder) {
    view.Print("%d\n", 1);
    view.Print("%d\n%d", 2, 3);
    view.Print("%d", 4);
    EXPECT_EQ(Rows(), Rows_t({"1", "2", "3", "4"}));
}

// ---------------------------------------------------------------- scrolling

TEST_F(StatusViewTest, NewRowsAreScrolledIntoViewWithoutSelection) {
    view.GetListCtrl().SetCountPerPage(5);
    for (int i = 0; i < 12; ++i)
        view.Print("row %d", i);
    const CListCtrl& list = view.GetListCtrl();
    EXPECT_EQ(list.GetEnsureVisibleCount(), 12);
    EXPECT_EQ(list.GetLastEnsureVisible(), 11);
    EXPECT_TRUE(list.IsItemVisible(11));
}

TEST_F(StatusViewTest, ASelectionStopsNewRowsFromScrolling) {
    view.GetListCtrl().SetCountPerPage(5);
    for (int i = 0; i < 3; ++i)
        view.Print("row %d", i);
    Select(1);
    const int before = view.GetListCtrl().GetEnsureVisibleCount();
    for (int i = 3; i < 20; ++i)
        view.Print("row %d", i);
    EXPECT_EQ(view.GetListCtrl().GetEnsureVisibleCount(), before);
    EXPECT_TRUE(view.GetListCtrl().IsItemVisible(1));
    EXPECT_FALSE(view.GetListCtrl().IsItemVisible(19));
}

// A long log must cost the same per row whatever its length: adding a row may
// not walk the rows already there to learn whether any is selected.
TEST_F(StatusViewTest, AddingRowsDoesNotWalkTheLog) {
    struct Case {
        int rows;
        int rowsPerText; // lines joined by "\n" in one AddLine
        int selectedRow; // -1: none
    };
    const Case cases[] = {{2000, 1, -1}, {2000, 1, 0}, {3000, 3, -1}, {3000, 3, 5}};
    for (const Case& c : cases) {
        CVRNStatusView log;
        std::string text = "OPTDRV      Iteration Number :  7";
        for (int k = 1; k < c.rowsPerText; ++k)
            text += "\nline";
        CString line(text.c_str());
        const CListCtrl& list = log.GetListCtrl();
        bool selected = false;
        for (int i = 0; i < c.rows; i += c.rowsPerText) {
            log.AddLine(line);
            if (!selected && c.selectedRow >= 0 && log.GetRowCount() > c.selectedRow)
                selected =
                    log.GetListCtrl().SetItemState(c.selectedRow, LVIS_SELECTED, LVIS_SELECTED) != FALSE;
        }
        EXPECT_EQ(log.GetRowCount(), c.rows);
        EXPECT_LE(list.GetRowsWalked(), static_cast<long long>(c.rows))
            << c.rows << " rows, " << c.rowsPerText << " per text, selected " << c.selectedRow;
        // The selection still decides about scrolling.
        EXPECT_EQ(list.IsItemVisible(c.rows - 1), c.selectedRow < 0);
    }
}

TEST_F(StatusViewTest, EndShowsTheLastRow) {
    view.GetListCtrl().SetCountPerPage(4);
    for (int i = 0; i < 10; ++i)
        view.Print("row %d", i);
    Select(0);
    view.GetListCtrl().EnsureVisible(0, TRUE);
    EXPECT_FALSE(view.GetListCtrl().IsItemVisible(9));
    view.OnMenuEnd();
    EXPECT_TRUE(view.GetListCtrl().IsItemVisible(9));
    view.DeleteAllItems();
    view.OnMenuEnd(); // an empty list: nothing to show, nothing breaks
    EXPECT_EQ(view.GetRowCount(), 0);
}

// ---------------------------------------------------------------- selection and keys

TEST_F(StatusViewTest, SelectAllMarksEveryRow) {
    Add("a\nb\nc");
    view.SelectAll();
    EXPECT_EQ(view.GetListCtrl().GetSelectedCount(), 3U);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(view.GetListCtrl().GetItemState(i, LVIS_SELECTED), LVIS_SELECTED);
}

TEST_F(StatusViewTest, CtrlASelectsAllAndEveryKeyGetsDefaultProcessing) {
    Add("a\nb");
    view.OnKeyDown('A', 1, 0);
    EXPECT_EQ(view.GetListCtrl().GetSelectedCount(), 0U);
    SetKeyDownForTest(VK_CONTROL, true);
    view.OnKeyDown('B', 1, 0);
    EXPECT_EQ(view.GetListCtrl().GetSelectedCount(), 0U);
    view.OnKeyDown('A', 1, 0);
    EXPECT_EQ(view.GetListCtrl().GetSelectedCount(), 2U);
    EXPECT_EQ(view.GetDefaultCount(WM_KEYDOWN), 3);
}

// ---------------------------------------------------------------- copying

TEST_F(StatusViewTest, CopyPutsTheSelectedRowsInListOrder) {
    Add("r0\nr1\nr2\nr3");
    Select(3);
    Select(1);
    view.OnMenuCopy();
    EXPECT_EQ(ClipboardStandIn::GetText(), "r1\r\nr3\r\n");
    EXPECT_FALSE(ClipboardStandIn::IsOpen());
}

TEST_F(StatusViewTest, CopyWithoutSelectionCopiesEveryRow) {
    Add("r0\n\nr2");
    view.OnMenuCopy();
    EXPECT_EQ(ClipboardStandIn::GetText(), "r0\r\n \r\nr2\r\n");
}

TEST_F(StatusViewTest, CopyOfAnEmptyListLeavesTheClipboardAlone) {
    ClipboardStandIn::PutText("theirs");
    view.OnMenuCopy();
    EXPECT_EQ(ClipboardStandIn::GetText(), "theirs");
    EXPECT_EQ(ClipboardStandIn::GetOpenCount(), 0);
}

TEST_F(StatusViewTest, CopyWhileAnotherProgramHoldsTheClipboardChangesNothing) {
    ClipboardStandIn::PutText("theirs");
    ClipboardStandIn::SetHeldByOtherProgram(true);
    Add("mine");
    view.OnMenuCopy();
    EXPECT_EQ(ClipboardStandIn::GetText(), "theirs");
    EXPECT_EQ(view.GetRowCount(), 1);
}

TEST_F(StatusViewTest, FailedAllocationOrRefusedDataLeavesAnEmptyClosedClipboard) {
    Add("mine");
    const int blocks = ClipboardStandIn::GetLiveBlockCount();
    ClipboardStandIn::PutText("theirs");
    ClipboardStandIn::SetGlobalAllocFails(true);
    view.OnMenuCopy();
    EXPECT_FALSE(ClipboardStandIn::HasText());
    EXPECT_FALSE(ClipboardStandIn::IsOpen());
    ClipboardStandIn::SetGlobalAllocFails(false);

    ClipboardStandIn::PutText("theirs");
    ClipboardStandIn::SetRefuseData(true);
    view.OnMenuCopy();
    EXPECT_FALSE(ClipboardStandIn::HasText());
    EXPECT_FALSE(ClipboardStandIn::IsOpen());
    // The refused block was given back, not lost.
    EXPECT_EQ(ClipboardStandIn::GetLiveBlockCount(), blocks);
    EXPECT_EQ(view.GetRowCount(), 1);
}

// ---------------------------------------------------------------- context menu

TEST_F(StatusViewTest, ContextMenuOffersTheFiveCommandsAtTheCursor) {
    SetCursorPos(120, 340);
    EXPECT_EQ(ChooseFromMenu(0), 0);
    const CMenu::ShownMenu& shown = CMenu::GetLastShown();
    ASSERT_EQ(shown.items.size(), 5U);
    const char* labels[] = {"Clear", "Copy", "Cut", "End", "Select All"};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(shown.items[i].id, i + 1);
        EXPECT_EQ(shown.items[i].label, labels[i]);
    }
    EXPECT_EQ(shown.flags, TPM_RETURNCMD | TPM_NONOTIFY);
    EXPECT_EQ(shown.x, 120);
    EXPECT_EQ(shown.y, 340);
    EXPECT_EQ(shown.owner, &view);
    EXPECT_EQ(CMenu::GetLiveMenuCount(), 0);
}

TEST_F(StatusViewTest, DismissedMenuDoesNothingAndStillSetsResult) {
    Add("a\nb");
    Select(0);
    EXPECT_EQ(ChooseFromMenu(0), 0);
    EXPECT_EQ(view.GetRowCount(), 2);
    EXPECT_EQ(view.GetListCtrl().GetSelectedCount(), 1U);
    EXPECT_FALSE(ClipboardStandIn::HasText());
}

TEST_F(StatusViewTest, MenuClearCopyEndAndSelectAll) {
    Add("a\nb\nc");
    EXPECT_EQ(ChooseFromMenu(CVRNStatusView::ID_SELECT_ALL), 0);
    EXPECT_EQ(view.GetListCtrl().GetSelectedCount(), 3U);
    EXPECT_EQ(ChooseFromMenu(CVRNStatusView::ID_COPY), 0);
    EXPECT_EQ(ClipboardStandIn::GetText(), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(view.GetRowCount(), 3);
    EXPECT_EQ(ChooseFromMenu(CVRNStatusView::ID_END), 0);
    EXPECT_EQ(view.GetListCtrl().GetLastEnsureVisible(), 2);
    EXPECT_EQ(ChooseFromMenu(CVRNStatusView::ID_CLEAR), 0);
    EXPECT_EQ(view.GetRowCount(), 0);
}

TEST_F(StatusViewTest, CutCopiesTheSelectedRowAndEmptiesTheList) {
    Add("a\nb\nc");
    Select(1);
    EXPECT_EQ(ChooseFromMenu(CVRNStatusView::ID_CUT), 0);
    EXPECT_EQ(ClipboardStandIn::GetText(), "b\r\n");
    EXPECT_EQ(view.GetRowCount(), 0);
}

TEST_F(StatusViewTest, CutWhileClipboardIsHeldStillEmptiesTheList) {
    ClipboardStandIn::PutText("theirs");
    ClipboardStandIn::SetHeldByOtherProgram(true);
    Add("a\nb");
    EXPECT_EQ(ChooseFromMenu(CVRNStatusView::ID_CUT), 0);
    EXPECT_EQ(ClipboardStandIn::GetText(), "theirs");
    EXPECT_EQ(view.GetRowCount(), 0);
}

TEST_F(StatusViewTest, ReflectedRightClickOpensTheMenuAndRightButtonUpGetsDefault) {
    Add("a");
    CMenu::SetNextChoice(CVRNStatusView::ID_CLEAR);
    NMHDR hdr{view.GetSafeHwnd(), 0, NM_RCLICK};
    EXPECT_EQ(view.SendMessage(WM_REFLECT_BASE + WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&hdr)), 0);
    EXPECT_EQ(view.GetRowCount(), 0);
    EXPECT_EQ(CMenu::GetShownCount(), 1);
    view.SendMessage(WM_RBUTTONUP);
    EXPECT_EQ(view.GetDefaultCount(WM_RBUTTONUP), 1);
    view.SendMessage(WM_KEYDOWN, 'A'); // key-down is not routed to OnKeyDown by the view
    EXPECT_EQ(CMenu::GetShownCount(), 1);
}

// ---------------------------------------------------------------- creation

TEST_F(StatusViewTest, CreatedByClassWithReportStyleIdentityAndTextColumn) {
    std::unique_ptr<CObject> obj(RUNTIME_CLASS(CVRNStatusView)->CreateObject());
    ASSERT_NE(obj, nullptr);
    ASSERT_TRUE(obj->IsKindOf(RUNTIME_CLASS(CVRNStatusView)));
    EXPECT_TRUE(obj->IsKindOf(RUNTIME_CLASS(CListView)));
    auto* status = static_cast<CVRNStatusView*>(obj.get());
    EXPECT_TRUE(status->IsUniqueID("Status"));
    EXPECT_FALSE(status->IsUniqueID("Hessian"));

    CDocument doc;
    CCreateContext ctx;
    ctx.m_pCurrentDoc = &doc;
    ASSERT_TRUE(status->Create(nullptr, nullptr, 0, CRect(0, 0, 400, 300), nullptr, 1, &ctx));
    EXPECT_EQ(status->GetStyle(), WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT);
    EXPECT_EQ(status->GetWindowClassName(), "SysListView32");
    EXPECT_EQ(status->GetDocument(), &doc);
    EXPECT_EQ(FindUniqueView<CVRNStatusView>(&doc, "Status"), status);

    status->OnInitialUpdate();
    status->OnInitialUpdate();
    const CListCtrl& list = status->GetListCtrl();
    ASSERT_EQ(list.GetColumnCount(), 1);
    EXPECT_EQ(list.GetColumnHeading(0), "Text");
    EXPECT_EQ(list.GetColumnFormat(0), LVCFMT_LEFT);
    EXPECT_EQ(list.GetColumnWidth(0), 1024);

    CVRNStatusView* other = static_cast<CVRNStatusView*>(CVRNStatusView::CreateObject());
    delete other;
}

} // namespace
