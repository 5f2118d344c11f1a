#pragma once

#include "Vellox/rewrite/AITransformMode.h"

// The two texts every network provider sends.
namespace TransformPromptBuilder {

QString systemText(const AITransformMode& mode);
QString userText(const QString& selectedText, const AITransformMode& mode);

} // namespace TransformPromptBuilder
