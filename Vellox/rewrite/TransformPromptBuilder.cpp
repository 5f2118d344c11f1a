#include "TransformPromptBuilder.h"

#include <QStringList>

namespace TransformPromptBuilder {

QString systemText(const AITransformMode& mode)
{
    QStringList sentences{
        QStringLiteral("You transform selected user text in-place."),
        QStringLiteral("Return only the final transformed text."),
        QStringLiteral("Preserve formatting, links, names, and code-like tokens unless the instruction explicitly asks to "
                       "change them."),
        QStringLiteral("Do not add explanations, greetings, quotes, or markdown wrappers."),
        QStringLiteral("If the user asks for a specific format or structure, output exactly that."),
    };
    sentences.append(mode.isCommand()
                         ? QStringLiteral("Apply the user instruction to the selected text exactly as requested.")
                         : mode.preset().instruction);
    return sentences.join(QLatin1Char(' '));
}

QString userText(const QString& selectedText, const AITransformMode& mode)
{
    if (!mode.isCommand())
        return selectedText;
    return QStringLiteral("Instruction:\n") + mode.instruction() + QStringLiteral("\n\nSelected text:\n") + selectedText;
}

} // namespace TransformPromptBuilder
