#pragma once

#include <QByteArray>
#include <QString>

// Pictures the emulator serves: photographed answer sheets for the demo task and small thumbnails of pages.
namespace AnswerSheetImage {

// A JPEG that looks like a photographed answer sheet: header with the student's name, a grid of answer boxes with
// marks, the page number and the score. Text is drawn only when a QGuiApplication exists (fonts need one).
QByteArray render(const QString& studentName, int page, int pageCount, const QString& score);

// A JPEG of at most maxWidth pixels wide scaled from the image bytes; a neutral placeholder when they are not an
// image.
QByteArray thumbnail(const QByteArray& imageBytes, int maxWidth = 200);

} // namespace AnswerSheetImage
