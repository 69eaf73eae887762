#pragma once

#include <QTemporaryDir>

namespace LiveTest {

// In place of the cloning tool for the length of a scope (bound over the copy sudo finds): every image but the
// root's is written by the real tool; the root's job is held at its start until the caller cuts it off, as a power
// cut would.
class HeldRootImage
{
public:
    HeldRootImage();
    ~HeldRootImage();
    HeldRootImage(const HeldRootImage&) = delete;
    HeldRootImage& operator=(const HeldRootImage&) = delete;

    bool isValid() const { return m_mounted; }
    // true once the root's job has started and is held.
    bool waitUntilHeld(int timeoutMs) const;
    // The held job is killed; the real tool is back.
    void cut();

private:
    void release();

    QTemporaryDir m_dir;
    QString m_held;
    bool m_mounted = false;
};

} // namespace LiveTest
