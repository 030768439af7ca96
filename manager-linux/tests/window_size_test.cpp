// The window on a screen smaller than its design (the offscreen screen,
// smaller still than 1024x768) and texts measured in the font they are drawn
// with: whatever a user must read is shown whole.
#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QHeaderView>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTabBar>
#include <QTableWidget>

#include "countertext.h"
#include "counterv2control.h"
#include "simplefiltercontrol.h"
#include "window_fixture.h"

namespace {

class WindowSizeTest : public WindowTest {
  protected:
    // The window at its design size with one device of `args`.
    void openAtDesignSize(const std::vector<std::string>& args) {
        openWindow();
        window_->setWindowState(Qt::WindowNoState);
        window_->resize(1126, 712);
        daemon_->attach(withCurrentFirmware(args));
        ASSERT_TRUE(selectorShows(1));
    }
    // The page shown is as wide as the window's scroll area at most.
    void expectNoSidewaysScrolling() {
        auto* scroll = tabs()->currentWidget()->findChild<QScrollArea*>();
        ASSERT_NE(scroll, nullptr);
        EXPECT_TRUE(waitFor([&] {
            return scroll->isVisible() && scroll->horizontalScrollBar()->maximum() == 0;
        })) << scroll->widget()->minimumSizeHint().width()
            << " > " << scroll->viewport()->width();
    }
};

const QString kLongName = QStringLiteral("Rack 3 uplink, second floor");

// The width the table's own delegate asks for to draw the cell unelided.
int cellNeeds(QTableWidget* table, int row, int column) {
    QStyleOptionViewItem option;
    option.initFrom(table->viewport());
    option.font = table->font();
    option.fontMetrics = table->fontMetrics();
    option.features = QStyleOptionViewItem::HasDisplay;
    return table->itemDelegate()->sizeHint(option, table->model()->index(row, column)).width();
}

int cursorX(QLineEdit* edit) {
    return edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
}

// Where the text of a label drawn centred begins and ends, in its parent.
std::pair<int, int> centredText(const QLabel* label) {
    const int advance = label->fontMetrics().horizontalAdvance(label->text());
    const int left = label->x() + (label->width() - advance) / 2;
    return {left, left + advance};
}

// The application's font a quarter larger, as a 120-dpi screen draws it,
// while it lives.
class LargerFont {
  public:
    LargerFont() : saved_(QApplication::font()) {
        QFont larger = saved_;
        if (larger.pointSizeF() > 0) {
            larger.setPointSizeF(larger.pointSizeF() * 1.25);
        } else {
            larger.setPixelSize(larger.pixelSize() * 5 / 4);
        }
        QApplication::setFont(larger);
    }
    ~LargerFont() { QApplication::setFont(saved_); }
    LargerFont(const LargerFont&) = delete;
    LargerFont& operator=(const LargerFont&) = delete;

  private:
    QFont saved_;
};

}  // namespace

// Every page scrolls where it cannot shrink, so the window opens inside the
// screen's available area with the selector beside the tabs (not over them)
// and wide enough for "MAC - name".
TEST_F(WindowSizeTest, OpensInsideTheAvailableAreaOfASmallScreen) {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Hollyfen"),
              QStringLiteral("NettlebeamManager"))
        .setValue(QStringLiteral("DeviceConfig/020000000009/FriendlyName"), kLongName);
    openWindow();
    daemon_->attach(withCurrentFirmware({"--type", "9", "--mac", "02:00:00:00:00:09"}));
    ASSERT_TRUE(selectorShows(1));
    const QRect available = window_->screen()->availableGeometry();
    ASSERT_LT(available.width(), 1024);  // the screen is below the design size
    // The window system places a maximized window once it is shown.
    ASSERT_TRUE(waitFor([&] { return available.contains(window_->frameGeometry()); }));
    for (int page = 0; page < tabs()->count(); ++page) {
        tabs()->setCurrentIndex(page);
        QCoreApplication::processEvents();
        SCOPED_TRACE(tabs()->tabText(page).toStdString());
        EXPECT_TRUE(available.contains(window_->frameGeometry()))
            << window_->frameGeometry().width() << "x" << window_->frameGeometry().height();
        const QSize least = window_->minimumSizeHint();
        EXPECT_LE(least.width(), available.width());
        EXPECT_LE(least.height(), available.height());
    }

    DeviceComboBox* selector = window_->deviceSelector();
    EXPECT_EQ(selector->itemText(0), QStringLiteral("02:00:00:00:00:09 - ") + kLongName);
    EXPECT_GE(selector->width(), selector->sizeHint().width());
    const QRect tabBar(tabs()->tabBar()->mapTo(window_.get(), QPoint()), tabs()->tabBar()->size());
    const QRect selectorRect(selector->mapTo(window_.get(), QPoint()), selector->size());
    EXPECT_FALSE(tabBar.intersects(selectorRect));
}

// The Link cells take "1Gbps FDX" whole at the window's full size.
TEST_F(WindowSizeTest, NetworkPortCellsShowTheirTextWhole) {
    openWindow();
    daemon_->attach(withCurrentFirmware({"--type", "9", "--traffic", "rate=100"}));
    ASSERT_TRUE(selectorShows(1));
    ASSERT_TRUE(openPage(QStringLiteral("Network Ports")));
    auto* link = find<QTableWidget>("physRegsTable1");
    ASSERT_TRUE(waitFor([&] {
        return link->item(0, 1) && link->item(0, 1)->text() == QStringLiteral("1Gbps FDX");
    }));
    for (auto* table :
         {link, find<QTableWidget>("physRegsTable2"), find<QTableWidget>("physRegsTable3")}) {
        for (int row = 0; row < table->rowCount(); ++row) {
            for (int column = 0; column < table->columnCount(); ++column) {
                if (table->item(row, column) == nullptr) continue;
                // The grid line takes a pixel of the column.
                EXPECT_LE(cellNeeds(table, row, column) + (table->showGrid() ? 1 : 0),
                          table->columnWidth(column))
                    << table->objectName().toStdString() << " " << row << "," << column << " "
                    << table->item(row, column)->text().toStdString();
            }
        }
    }
    EXPECT_GE(link->viewport()->height(), link->rowViewportPosition(1) + link->rowHeight(1));
}

// A whole MAC, IPv6 address or port stays in view with the cursor after it
// (a field too narrow scrolls its first characters away), and the mode
// combos are as wide as their longest mode.
TEST(FilterPanelSizeTest, FieldsAndModesShowTheirLongestTextWhole) {
    SimpleFilterControl panel;
    panel.show();
    const struct {
        const char* field;
        QString text;
    } fields[] = {
        {"srcMacTB", QStringLiteral("DD:DD:DD:DD:DD:DD")},
        {"dstMacTB", QStringLiteral("88:88:88:88:88:88")},
        {"srcIpTB", QStringLiteral("DDDD:DDDD:DDDD:DDDD:DDDD:DDDD:DDDD:DDDD")},
        {"srcPortTB", QStringLiteral("65535")},
    };
    for (const auto& f : fields) {
        auto* edit = panel.findChild<QLineEdit*>(QLatin1String(f.field));
        ASSERT_NE(edit, nullptr) << f.field;
        edit->setEnabled(true);
        edit->setText(f.text);
        edit->setCursorPosition(0);
        edit->repaint();  // the scroll offset follows the cursor when painted
        const int start = cursorX(edit);
        edit->setCursorPosition(f.text.size());
        edit->repaint();
        EXPECT_EQ(cursorX(edit) - start, edit->fontMetrics().horizontalAdvance(f.text)) << f.field;
    }
    for (const char* name : {"macModeCB", "ipModeCB", "portModeCB", "ipVersionCB"}) {
        auto* combo = panel.findChild<QComboBox*>(QLatin1String(name));
        ASSERT_NE(combo, nullptr) << name;
        int widest = 0;
        for (int i = 0; i < combo->count(); ++i)
            widest = std::max(widest, combo->fontMetrics().horizontalAdvance(combo->itemText(i)));
        EXPECT_GE(combo->width(), combo->sizeHint().width()) << name;
        EXPECT_GT(combo->width(), widest) << name;
    }
}

// A counter row shows a full IPv6 address, and its tags read as separate
// words: at least a space between one tag's text and the next.
TEST(CounterRowSizeTest, AddressesAndTagsShowWhole) {
    CounterV2Control row;
    NettlebeamApiCounterV2 counter = row.definition();
    counter.isIPv6 = 1;
    CounterText::storeAddress(
        counter, *parseIpv6Wildcards(QStringLiteral("fd00:abcd:1234:5678:9abc:def0:1234:5678")));
    row.setDefinition(counter);
    row.resize(row.sizeHint());
    row.show();
    auto* address = row.findChild<QLabel*>(QStringLiteral("ipaddrLabel"));
    ASSERT_FALSE(address->text().isEmpty());
    EXPECT_GE(address->contentsRect().width() - address->indent(),
              address->fontMetrics().horizontalAdvance(address->text()))
        << address->text().toStdString();

    const int space = row.fontMetrics().horizontalAdvance(QLatin1Char(' '));
    for (const auto& line : {std::array<const char*, 3>{"ucastLabel", "mcastLabel", "bcastLabel"},
                             std::array<const char*, 3>{"icmpLabel", "udpLabel", "tcpLabel"}}) {
        for (int i = 0; i + 1 < 3; ++i) {
            const auto* left = row.findChild<QLabel*>(QLatin1String(line[i]));
            const auto* right = row.findChild<QLabel*>(QLatin1String(line[i + 1]));
            EXPECT_GE(centredText(right).first - centredText(left).second, space)
                << line[i] << " " << line[i + 1];
        }
    }
}

// At 120 dpi the window's design size still holds the Counters page of a
// gigabit device without sideways scrolling, and what it shows is whole:
// the row labels, every row of the four tables and the gauge captions.
TEST_F(WindowSizeTest, CountersPageFitsTheDesignWidthAtALargerFont) {
    const LargerFont font;
    openWindow();
    window_->setWindowState(Qt::WindowNoState);
    window_->resize(1126, 712);
    daemon_->attach(withCurrentFirmware({"--type", "9"}));
    ASSERT_TRUE(selectorShows(1));
    ASSERT_TRUE(openPage(QStringLiteral("Counters")));
    auto* scroll = tabs()->currentWidget()->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_TRUE(waitFor([&] {
        return scroll->isVisible() && scroll->horizontalScrollBar()->maximum() == 0;
    })) << scroll->widget()->minimumSizeHint().width()
        << " > " << scroll->viewport()->width();

    for (const char* name : {"tableWidget", "tableWidget_2", "tableWidget_3", "tableWidget_4"}) {
        auto* table = find<QTableWidget>(name);
        QHeaderView* labels = table->verticalHeader();
        // The headers draw their texts inside a margin on each side.
        const int margins =
            2 * labels->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, labels);
        for (int row = 0; row < table->rowCount(); ++row) {
            const QString text = table->model()->headerData(row, Qt::Vertical).toString();
            EXPECT_LE(labels->fontMetrics().horizontalAdvance(text) + margins, labels->width())
                << name << " " << text.toStdString();
        }
        EXPECT_GE(table->viewport()->height(), labels->length()) << name;
        for (int column = 0; column < table->columnCount(); ++column) {
            const QString title = table->model()->headerData(column, Qt::Horizontal).toString();
            EXPECT_LE(table->horizontalHeader()->fontMetrics().horizontalAdvance(title) + margins,
                      table->columnWidth(column))
                << name << " " << title.toStdString();
            for (int row = 0; row < table->rowCount(); ++row) {
                if (table->item(row, column) == nullptr) continue;
                EXPECT_LE(cellNeeds(table, row, column) + (table->showGrid() ? 1 : 0),
                          table->columnWidth(column))
                    << name << " " << row << "," << column << " "
                    << table->item(row, column)->text().toStdString();
            }
        }
    }
    for (const char* name :
         {"meters_a_bw_caption", "meters_a_avbw_caption", "meters_a_avcrc_caption",
          "meters_b_bw_caption", "meters_b_avbw_caption", "meters_b_avcrc_caption"}) {
        auto* caption = find<QLabel>(name);
        const QRect needed = caption->fontMetrics().boundingRect(
            caption->contentsRect(), Qt::AlignCenter | Qt::TextWordWrap, caption->text());
        EXPECT_LE(needed.width(), caption->contentsRect().width()) << name;
        EXPECT_LE(needed.height(), caption->contentsRect().height()) << name;
    }
}

// The filter panel at 120 dpi: the page needs no sideways scrolling and
// each mode box and field keeps the width its longest text needs.
TEST_F(WindowSizeTest, FiltersPageFitsTheDesignWidthAtALargerFont) {
    const LargerFont font;
    openAtDesignSize({"--type", "12"});
    ASSERT_TRUE(openPage(QStringLiteral("Filters")));
    expectNoSidewaysScrolling();
    for (const char* name : {"macModeCB", "ipModeCB", "portModeCB", "ipVersionCB"}) {
        auto* combo = find<QComboBox>(name);
        EXPECT_GE(combo->width(), combo->sizeHint().width()) << name;
    }
    for (const char* name : {"srcMacTB", "dstMacTB", "srcIpTB", "dstIpTB", "srcPortTB"}) {
        auto* edit = find<QLineEdit>(name);
        EXPECT_GE(edit->width(), edit->minimumSizeHint().width()) << name;
    }
}
