#include "sqtablewidget.h"

SQTableWidget::SQTableWidget(QWidget* parent) : QTableWidget(parent) {}
