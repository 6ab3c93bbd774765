#pragma once

#include <QPushButton>

// A button of an output block: a silver face with a caption, or an arrow drawn as a triangle
// (the symbol font the arrows were designed with does not exist on every platform).
class BlockButton : public QPushButton {
    Q_OBJECT
public:
    enum class Face { Caption, LeftArrow, RightArrow };

    BlockButton(Face face, const QString& caption, QWidget* parent = nullptr);

    Face face() const { return face_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Face face_;
};

inline const QColor kBlockButtonFace = QColor(0xC0, 0xC0, 0xC0);
