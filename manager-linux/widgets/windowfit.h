// Fitting the window to small screens. The window's design size is kept
// where the screen has room for it; on a smaller screen (1024x768) it opens
// over the whole available area instead of off the screen's edge, and pages
// that cannot shrink that far scroll.
#pragma once

class QTabWidget;
class QWidget;

// Moves the contents of `page` into a frameless scroll area filling it: the
// contents stretch where the page has room and scroll where it is smaller
// than they can shrink. The page and its children keep their names.
void makeScrollable(QWidget* page);

// makeScrollable for every page of `tabs` that does not scroll already
// (whose only content is not a scroll area).
void makePagesScrollable(QTabWidget* tabs);

// Leaves a top-level `window` at its size when its screen's available area
// holds it; otherwise gives it that area and opens it maximized there.
void fitToScreen(QWidget* window);
