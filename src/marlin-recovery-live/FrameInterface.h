#pragma once

#include <QList>
#include <QPair>

class ModuleInterface;
class QWidget;

// The main window's page stack as modules see it: modules only ever change the visible page through it.
class FrameInterface
{
public:
    virtual ~FrameInterface() = default;

    virtual void pushWidget(ModuleInterface* module, QWidget* widget) = 0;
    virtual void refresh() = 0;
    virtual void popAllWidgets() = 0;
    virtual void popWidget() = 0;
    virtual void back() = 0;
    virtual void backToFirstPage() = 0;
    virtual void setBackwardButtonVisible(bool visible) = 0;
    virtual void setModuleSwitcherEnabled(bool enabled) = 0;
    virtual void showWidget(ModuleInterface* module, QWidget* widget) = 0;
    virtual void showSettingsPage() = 0;
    virtual void showHomePage() = 0;
    virtual int currentModuleIndex() const = 0;
    virtual int firstPageIndex() const = 0;

    int pageCount() const { return int(m_pageStack.size()); }
    QWidget* topWidget() const { return m_pageStack.isEmpty() ? nullptr : m_pageStack.last().second; }

protected:
    // Bottom first; pages belong to their modules, the stack only shows and hides them.
    QList<QPair<ModuleInterface*, QWidget*>> m_pageStack;
};
