#pragma once

#include <QString>

class FrameInterface;

// What the main window needs from a module; a module shows its pages only through the frame it was given.
class ModuleInterface
{
public:
    explicit ModuleInterface(FrameInterface* frame) : m_frame(frame) {}
    virtual ~ModuleInterface() = default;

    virtual void initialize() = 0;
    virtual QString name() const = 0;
    virtual QString key() const = 0;
    virtual QString title() const = 0;
    virtual QString icon() const = 0;
    virtual QString text() const = 0;
    virtual void active() {}
    virtual void deactive() {}
    virtual int moduleType() const = 0;

protected:
    FrameInterface* m_frame;
};
