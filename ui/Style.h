// The program's visual style "Aqua Light Slate".
#pragma once

class QApplication;

// Applies the style to the whole application; false (and the plain look)
// when it cannot be applied.
bool ApplyVisualStyle(QApplication& app);
