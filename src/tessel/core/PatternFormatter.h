// Turns a log record into text following a pattern that is parsed once, so formatting a record is a plain walk.
#pragma once

#include "LogRecord.h"

#include <QList>
#include <QString>

namespace Tessel::Core {

// Pattern tokens:
//   %{time}{fmt}    record time in local time, fmt as for QDateTime::toString (default ISO with milliseconds)
//   %{type}         Debug, Info, Warning, Critical, Fatal; %{type:1} gives only the first letter
//   %{function}     short "Class::method" form of the function (see shortFunctionName)
//   %{line} %{file} %{category} %{message} %{threadid}
// Every token but time takes an optional width, %{function:-35}: negative pads on the right (left-aligned),
// positive pads on the left (right-aligned); values longer than the width are never cut.
// Anything else, including an unknown or malformed token, is copied as literal text so a typo stays visible.
class PatternFormatter
{
public:
    explicit PatternFormatter(const QString& pattern = QString());

    QString pattern() const { return m_pattern; }
    QString format(const LogRecord& record) const;

    static QString typeName(QtMsgType type);
    // Reduces a Q_FUNC_INFO spelling such as "virtual bool ns::Foo::bar(int) const" to "ns::Foo::bar": drops the
    // return type, argument list, qualifiers, template notes and anonymous namespaces; a lambda is reported as
    // the function that contains it.
    static QString shortFunctionName(const QString& prettyFunction);

private:
    enum class Field
    {
        Literal,
        Time,
        Type,
        TypeLetter,
        Function,
        Line,
        File,
        Category,
        Message,
        ThreadId
    };

    struct Token
    {
        Field field = Field::Literal;
        int width = 0;
        QString text; // literal text, or the time format
    };

    void parse();
    int parseToken(int start);
    void appendLiteral(const QString& text);
    static QString fieldText(const Token& token, const LogRecord& record);

    QString m_pattern;
    QList<Token> m_tokens;
};

} // namespace Tessel::Core
