#pragma once

#include <QString>

#include <functional>

// The capture page's information boxes, behind a seam so that tests see the box's title and text instead of a
// modal dialog.
namespace CaptureMessages {

// A modal information box without parent.
void information(const QString& title, const QString& text);

// While set, information() hands title and text to the recorder and shows nothing. An empty function restores the
// real box.
void setRecorder(std::function<void(const QString& title, const QString& text)> recorder);

} // namespace CaptureMessages
