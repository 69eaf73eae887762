#include "TFontSizeManager.h"

#include <QWidget>

namespace Tessel::Widgets {

namespace {

struct Level
{
    int pixelSize;
    QFont::Weight weight;
};

constexpr Level levels[TFontSizeManager::NSizeTypes] = {
    {32, QFont::Bold},   {24, QFont::DemiBold}, {20, QFont::DemiBold}, {17, QFont::Medium},
    {15, QFont::Medium}, {14, QFont::Normal},   {13, QFont::Normal},   {11, QFont::Normal},
};

const Level& levelOf(TFontSizeManager::SizeType type)
{
    const int i = type >= TFontSizeManager::T1 && type < TFontSizeManager::NSizeTypes ? type : TFontSizeManager::T6;
    return levels[i];
}

} // namespace

TFontSizeManager* TFontSizeManager::instance()
{
    static TFontSizeManager manager;
    return &manager;
}

void TFontSizeManager::bind(QWidget* widget, SizeType type, int weight) const
{
    if (!widget) {
        return;
    }
    // A fresh QFont resolves nothing, so only the two attributes set here become explicit on the widget.
    QFont font;
    font.setPixelSize(levelOf(type).pixelSize);
    font.setWeight(weight >= 0 ? QFont::Weight(weight) : levelOf(type).weight);
    widget->setFont(font);
}

QFont TFontSizeManager::get(SizeType type, const QFont& base) const
{
    QFont font = base;
    font.setPixelSize(levelOf(type).pixelSize);
    font.setWeight(levelOf(type).weight);
    return font;
}

int TFontSizeManager::fontPixelSize(SizeType type)
{
    return levelOf(type).pixelSize;
}

QFont::Weight TFontSizeManager::fontWeight(SizeType type)
{
    return levelOf(type).weight;
}

} // namespace Tessel::Widgets
