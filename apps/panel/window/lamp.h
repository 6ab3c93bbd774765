#pragma once

#include <QColor>
#include <QWidget>

// A round lamp: a 1-pixel outline, filled with its colour when lit, see-through when dark.
class Lamp : public QWidget {
    Q_OBJECT
public:
    Lamp(const QColor& fill, const QColor& outline, const QString& name, QWidget* parent = nullptr);

    bool isLit() const { return lit_; }
    void setLit(bool lit);
    QColor fillColor() const { return fill_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
    QColor outline_;
    bool lit_ = false;
};
