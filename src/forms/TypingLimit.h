// SPDX-License-Identifier: MIT
#pragma once

#include <QValidator>

class QLineEdit;

/**
 * Limits what the operator can type into a text box without touching text set by the
 * program: a longer text from the settings is shown whole, and typing may shorten it, but
 * no keystroke or paste makes the text longer than the limit and longer than it was. A
 * paste is cut to the room left, as a Windows text box cuts it. QLineEdit::setMaxLength
 * would cut the stored text. Limits count UTF-16 units, which are characters for every text
 * a bench label holds.
 */
class TypingLimit : public QValidator
{
    Q_OBJECT
public:
    /** Installs a limit of `maxChars` on `edit`; the validator is owned by `edit`. */
    static TypingLimit *install(QLineEdit *edit, int maxChars);

    int limit() const { return m_limit; }
    void setLimit(int maxChars) { m_limit = maxChars; }

    State validate(QString &input, int &pos) const override;

private:
    TypingLimit(QLineEdit *edit, int maxChars);

    int m_limit;
    QString m_accepted; ///< the text as it was before the edit being validated
};
