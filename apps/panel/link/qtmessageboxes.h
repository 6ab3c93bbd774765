#pragma once

#include "messageboxes.h"

class QWidget;

class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void show(const QString& text, const QString& title) override;

private:
    QWidget* parent_;
};
