#pragma once

#include <QGroupBox>

// A captioned frame whose caption sits on its top border line, so the controls placed inside
// it keep the distances to caption and border they were laid out with.
class FrameBox : public QGroupBox {
    Q_OBJECT
public:
    FrameBox(const QString& title, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};
