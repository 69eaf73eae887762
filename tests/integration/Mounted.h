#pragma once

#include <QString>

namespace LiveTest {

// A partition of the fabricated machine mounted by UUID, or by device path ("/dev/..."), through UDisks2 as the
// programs do, for the length of a scope.
class Mounted
{
public:
    explicit Mounted(const QString& uuid);
    ~Mounted();
    Mounted(const Mounted&) = delete;
    Mounted& operator=(const Mounted&) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    QString operator+(const QString& relative) const { return m_path + relative; }

private:
    QString m_uuid;
    QString m_path;
};

} // namespace LiveTest
