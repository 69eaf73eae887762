// "glaze", the toolkit's widget style: flat rounded controls on the toolkit palette, drawn over Qt's Fusion style.
#pragma once

#include <QProxyStyle>
#include <QStringList>

class QAbstractButton;

namespace Tessel::Widgets {

// How the glaze style paints a push button: Recommended is filled with the accent (the one obvious way forward),
// Warning has red text (an action that destroys or restarts something). Kept as a dynamic property on the button,
// so any QAbstractButton painted by the style can carry it.
enum class ButtonType
{
    Normal,
    Warning,
    Recommended
};

void setButtonType(QAbstractButton* button, ButtonType type);
ButtonType buttonType(const QWidget* button);

// Creating the style by name does not go through a style plugin: use createStyle("glaze"), or
// TApplication::setStyle("glaze"); a TApplication installs it from the start anyway. Plain
// QStyleFactory::create("glaze") does not know the name and returns null.
class GlazeStyle : public QProxyStyle
{
    Q_OBJECT

public:
    static constexpr int ControlRadius = 8;  // buttons, inputs, list items
    static constexpr int PanelRadius = 14;   // frames, dialogs, grouped backgrounds
    static constexpr int ControlHeight = 36; // minimum height of buttons and inputs

    GlazeStyle();

    QPalette standardPalette() const override;
    void polish(QWidget* widget) override;
    using QProxyStyle::polish;

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sc,
                         const QWidget* widget) const override;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
};

// "glaze" (any case) gives a new GlazeStyle; any other name goes to QStyleFactory. Null when unknown.
// The caller owns the style (QApplication::setStyle takes it over).
QStyle* createStyle(const QString& name);
// The names createStyle() accepts: QStyleFactory's and "Glaze".
QStringList styleKeys();

} // namespace Tessel::Widgets
