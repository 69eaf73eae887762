#include "PatternFormatter.h"

namespace Tessel::Core {

namespace {

const QString defaultTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
const QLatin1String operatorKeyword("operator");
const QLatin1String gccAnonymous("{anonymous}::");
const QLatin1String clangAnonymous("(anonymous namespace)::");

bool isIdentifierChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

bool isOpening(QChar c)
{
    return c == u'<' || c == u'(' || c == u'[';
}

bool isClosing(QChar c)
{
    return c == u'>' || c == u')' || c == u']';
}

bool isKeywordAt(const QString& text, int pos, QLatin1String word)
{
    if (!QStringView(text).mid(pos).startsWith(word)) {
        return false;
    }
    if (pos > 0 && isIdentifierChar(text[pos - 1])) {
        return false;
    }
    const int after = pos + int(word.size());
    return after >= text.size() || !isIdentifierChar(text[after]);
}

// The '(' after "operator" belongs to the argument list unless the operator itself is "()".
int operatorArgumentList(const QString& text, int operatorPos)
{
    int pos = operatorPos + int(operatorKeyword.size());
    while (pos < text.size() && text[pos] == u' ') {
        ++pos;
    }
    if (QStringView(text).mid(pos).startsWith(u"()")) {
        pos += 2;
    }
    return int(text.indexOf(u'(', pos));
}

// Finds the '(' that opens the argument list at nesting depth zero; -1 when there is none.
int argumentListStart(const QString& text, int* operatorPos)
{
    int depth = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (depth == 0 && c == u'(' && QStringView(text).mid(i).startsWith(clangAnonymous.chopped(2))) {
            i += int(clangAnonymous.size()) - 3;
            continue;
        }
        if (depth == 0 && c == u'(') {
            return i;
        }
        if (depth == 0 && isKeywordAt(text, i, operatorKeyword)) {
            *operatorPos = i;
            return operatorArgumentList(text, i);
        }
        if (isOpening(c)) {
            ++depth;
        } else if (isClosing(c) && depth > 0) {
            --depth;
        }
    }
    return -1;
}

// Walks back from the name's end to the space separating it from the return type.
int nameStart(const QString& text, int end)
{
    int depth = 0;
    for (int i = end - 1; i >= 0; --i) {
        const QChar c = text[i];
        if (isClosing(c)) {
            ++depth;
        } else if (isOpening(c)) {
            --depth;
        } else if (c == u' ' && depth == 0) {
            return i + 1;
        }
    }
    return 0;
}

} // namespace

PatternFormatter::PatternFormatter(const QString& pattern) : m_pattern(pattern)
{
    parse();
}

QString PatternFormatter::format(const LogRecord& record) const
{
    QString out;
    out.reserve(m_pattern.size() + record.message.size() + 64);
    for (const Token& token : m_tokens) {
        if (token.field == Field::Literal) {
            out += token.text;
            continue;
        }
        const QString value = fieldText(token, record);
        if (token.width < 0) {
            out += value.leftJustified(-token.width);
        } else {
            out += value.rightJustified(token.width);
        }
    }
    return out;
}

QString PatternFormatter::typeName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug");
    case QtInfoMsg:
        return QStringLiteral("Info");
    case QtWarningMsg:
        return QStringLiteral("Warning");
    case QtCriticalMsg:
        return QStringLiteral("Critical");
    case QtFatalMsg:
        return QStringLiteral("Fatal");
    }
    return QStringLiteral("Unknown");
}

QString PatternFormatter::shortFunctionName(const QString& prettyFunction)
{
    QString text = prettyFunction;
    const int templateNote = int(text.indexOf(QLatin1String(" [with ")));
    if (templateNote >= 0) {
        text.truncate(templateNote);
    }
    int operatorPos = -1;
    const int argumentList = argumentListStart(text, &operatorPos);
    const int end = argumentList < 0 ? int(text.size()) : argumentList;
    const int start = nameStart(text, operatorPos >= 0 ? operatorPos : end);
    QString name = text.mid(start, end - start).trimmed();
    while (name.startsWith(u'*') || name.startsWith(u'&')) {
        name.remove(0, 1);
    }
    name.remove(gccAnonymous);
    name.remove(clangAnonymous);
    return name;
}

void PatternFormatter::parse()
{
    int pos = 0;
    while (pos < m_pattern.size()) {
        const int tokenStart = int(m_pattern.indexOf(QLatin1String("%{"), pos));
        if (tokenStart < 0) {
            appendLiteral(m_pattern.mid(pos));
            return;
        }
        appendLiteral(m_pattern.mid(pos, tokenStart - pos));
        pos = parseToken(tokenStart);
    }
}

// Parses the token at start ("%{...") and returns the position right after it.
int PatternFormatter::parseToken(int start)
{
    const int close = int(m_pattern.indexOf(u'}', start + 2));
    if (close < 0) {
        appendLiteral(m_pattern.mid(start));
        return int(m_pattern.size());
    }
    const QString body = m_pattern.mid(start + 2, close - start - 2);
    const QString name = body.section(u':', 0, 0);
    const bool hasArgument = body.contains(u':');
    const QString argument = body.section(u':', 1);

    Token token;
    int next = close + 1;
    bool valid = true;
    if (name == QLatin1String("time") && !hasArgument) {
        token.field = Field::Time;
        token.text = defaultTimeFormat;
        const int formatEnd = int(m_pattern.indexOf(u'}', next));
        if (next < m_pattern.size() && m_pattern[next] == u'{' && formatEnd > next) {
            token.text = m_pattern.mid(next + 1, formatEnd - next - 1);
            next = formatEnd + 1;
        }
    } else if (name == QLatin1String("type")) {
        token.field = hasArgument ? Field::TypeLetter : Field::Type;
        valid = !hasArgument || argument == QLatin1String("1");
    } else {
        static const QList<QPair<QLatin1String, Field>> fields = {
            {QLatin1String("function"), Field::Function}, {QLatin1String("line"), Field::Line},
            {QLatin1String("file"), Field::File},         {QLatin1String("category"), Field::Category},
            {QLatin1String("message"), Field::Message},   {QLatin1String("threadid"), Field::ThreadId},
        };
        valid = false;
        for (const auto& [fieldName, field] : fields) {
            if (name == fieldName) {
                token.field = field;
                valid = true;
            }
        }
        if (valid && hasArgument) {
            token.width = argument.toInt(&valid);
        }
    }

    if (!valid) {
        appendLiteral(m_pattern.mid(start, close + 1 - start));
        return close + 1;
    }
    m_tokens.append(token);
    return next;
}

void PatternFormatter::appendLiteral(const QString& text)
{
    if (text.isEmpty()) {
        return;
    }
    if (!m_tokens.isEmpty() && m_tokens.last().field == Field::Literal) {
        m_tokens.last().text += text;
        return;
    }
    Token token;
    token.text = text;
    m_tokens.append(token);
}

QString PatternFormatter::fieldText(const Token& token, const LogRecord& record)
{
    switch (token.field) {
    case Field::Literal:
        return token.text;
    case Field::Time:
        return record.time.toLocalTime().toString(token.text);
    case Field::Type:
        return typeName(record.type);
    case Field::TypeLetter:
        return typeName(record.type).left(1);
    case Field::Function:
        return shortFunctionName(record.function);
    case Field::Line:
        return QString::number(record.line);
    case Field::File:
        return record.file;
    case Field::Category:
        return record.category;
    case Field::Message:
        return record.message;
    case Field::ThreadId:
        return QString::number(record.threadId);
    }
    return QString();
}

} // namespace Tessel::Core
