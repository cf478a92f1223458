// SPDX-License-Identifier: MIT
#include "TypingLimit.h"

#include <QLineEdit>

TypingLimit::TypingLimit(QLineEdit *edit, int maxChars)
    : QValidator(edit)
    , m_limit(maxChars)
    , m_accepted(edit->text().size())
{
    // The box already holds an edit's text while it is validated, so the length before the
    // edit is kept here, from every change that was let through.
    connect(edit, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_accepted = text.size(); });
}

TypingLimit *TypingLimit::install(QLineEdit *edit, int maxChars)
{
    if (auto *existing = qobject_cast<TypingLimit *>(const_cast<QValidator *>(edit->validator()))) {
        existing->setLimit(maxChars);
        return existing;
    }
    auto *limit = new TypingLimit(edit, maxChars);
    edit->setValidator(limit);
    return limit;
}

QValidator::State TypingLimit::validate(QString &input, int &) const
{
    // Refused, never cut: the text the program sets is validated too, and must stay whole.
    if (input.size() > m_limit && input.size() > m_accepted)
        return Invalid;
    return Acceptable;
}
