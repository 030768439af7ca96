#include "windowfit.h"

#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWidget>

void makeScrollable(QWidget* page) {
    QLayout* layout = page->layout();
    if (layout == nullptr) return;
    auto* contents = new QWidget;
    contents->setObjectName(page->objectName() + QStringLiteral("Contents"));
    // Takes the layout from the page along with the widgets it manages.
    contents->setLayout(layout);
    auto* area = new QScrollArea;
    area->setObjectName(page->objectName() + QStringLiteral("Scroll"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(contents);
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(area);
}

void makePagesScrollable(QTabWidget* tabs) {
    for (int i = 0; i < tabs->count(); ++i) {
        QWidget* page = tabs->widget(i);
        QLayout* layout = page->layout();
        const bool scrolls = layout != nullptr && layout->count() == 1 &&
                             qobject_cast<QScrollArea*>(layout->itemAt(0)->widget()) != nullptr;
        if (!scrolls) makeScrollable(page);
    }
}

void fitToScreen(QWidget* window) {
    const QScreen* screen = window->screen();
    if (screen == nullptr) return;
    const QRect available = screen->availableGeometry();
    if (window->width() <= available.width() && window->height() <= available.height()) return;
    // Also the size it returns to from maximized.
    window->setGeometry(QRect(available.topLeft(), window->size().boundedTo(available.size())));
    window->setWindowState(window->windowState() | Qt::WindowMaximized);
}
