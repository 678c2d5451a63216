#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

namespace orvane {

// A picture from a file, stretched over the whole control on a white ground (the about box's logo).
class CPictureBox final : public QWidget {
    Q_OBJECT

public:
    explicit CPictureBox(QWidget* parent = nullptr);

    // Remembers the name and loads the file; when the file cannot be read the picture held so far
    // stays. Repaints.
    void SetImage(const QString& path);

    const QString& FileName() const { return fileName; }
    int BitmapWidth() const { return bitmap.width(); }
    int BitmapHeight() const { return bitmap.height(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString fileName;
    QImage bitmap;
};

}  // namespace orvane
