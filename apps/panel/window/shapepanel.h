#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

// A filled rounded rectangle drawn under the controls, with an optional 1-pixel outline.
class ShapePanel : public QWidget {
    Q_OBJECT
public:
    ShapePanel(const QColor& fill, std::optional<QColor> outline, QWidget* parent = nullptr);

    QColor fillColor() const { return fill_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
    std::optional<QColor> outline_;
};
