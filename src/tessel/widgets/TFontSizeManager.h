// The toolkit's type scale: eight font size levels, T1 (page titles) down to T8 (fine print), T6 being body text.
#pragma once

#include <QFont>

class QWidget;

namespace Tessel::Widgets {

class TFontSizeManager
{
public:
    enum SizeType
    {
        T1, // 32 px bold: page titles
        T2, // 24 px semibold: result and progress headings
        T3, // 20 px semibold: section headings
        T4, // 17 px medium: tile titles, prominent messages
        T5, // 15 px medium: dialog titles
        T6, // 14 px: body text, the application font
        T7, // 13 px: tips and secondary text
        T8, // 11 px: fine print
        NSizeTypes
    };

    static TFontSizeManager* instance();

    // Sets the level's pixel size and weight on the widget; a weight >= 0 (QFont::Weight) replaces the level's.
    // Only size and weight are set explicitly, so the family still follows the application font.
    void bind(QWidget* widget, SizeType type, int weight = -1) const;

    // The level's size and weight applied to base (the application font when omitted).
    QFont get(SizeType type, const QFont& base = QFont()) const;

    static int fontPixelSize(SizeType type);
    static QFont::Weight fontWeight(SizeType type);

private:
    TFontSizeManager() = default;
};

} // namespace Tessel::Widgets
