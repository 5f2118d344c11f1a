#include "Chat.h"

#include "gemini-client/ErrorTexts.h"

namespace gemini {

namespace {

const QString kUserRole = QStringLiteral("user");
const QString kModelRole = QStringLiteral("model");

} // namespace

Chat::Chat(Key, GenerativeModel model, QList<ModelContent> history)
    : model_(std::move(model))
    , history_(std::move(history))
{
}

QList<ModelContent> Chat::newTurns(const ContentsProducer& contents)
{
    QList<ModelContent> turns;
    try {
        turns = contents();
    } catch (const ImageConversionError& error) {
        throw GenerateContentError::promptImageContentError(error);
    } catch (...) {
        throw GenerateContentError::internalError(currentError());
    }
    for (ModelContent& turn : turns) {
        if (!turn.role())
            turn = ModelContent(kUserRole, turn.parts());
    }
    return turns;
}

QCoro::Task<GenerateContentResponse> Chat::sendMessage(ContentsProducer contents)
{
    return send(shared_from_this(), std::move(contents));
}

QCoro::Task<GenerateContentResponse> Chat::send(std::shared_ptr<Chat> chat, ContentsProducer contents)
{
    const QList<ModelContent> turns = newTurns(contents);
    const QList<ModelContent> request = chat->history_ + turns;
    // Named rather than built inside the co_await: GCC 12 destroys a
    // temporary nested in a co_await expression twice.
    ContentsProducer producer = [request] { return request; };
    QCoro::Task<GenerateContentResponse> call = chat->model_.generateContent(std::move(producer));
    GenerateContentResponse response = co_await call;
    if (response.candidates.isEmpty())
        throw GenerateContentError::internalError(std::make_shared<LibraryError>(QString::fromUtf8(texts::noCandidates)));
    chat->history_ += turns;
    chat->history_.append(ModelContent(kModelRole, response.candidates.first().content.parts()));
    co_return response;
}

AsyncStream<GenerateContentResponse> Chat::sendMessageStream(ContentsProducer contents)
{
    QList<ModelContent> turns;
    try {
        turns = newTurns(contents);
    } catch (const GenerateContentError& error) {
        return AsyncStream<GenerateContentResponse>::failed(error.clone());
    }
    const QList<ModelContent> request = history_ + turns;
    AsyncStream<GenerateContentResponse> source = model_.generateContentStream([request] { return request; });
    auto sink = std::make_shared<detail::Channel<GenerateContentResponse>>();
    // Runs on its own until the model's stream ends; its frame frees itself.
    pump(shared_from_this(), std::move(turns), std::move(source), sink);
    return AsyncStream<GenerateContentResponse>(sink);
}

QCoro::Task<> Chat::pump(std::shared_ptr<Chat> chat, QList<ModelContent> turns,
                         AsyncStream<GenerateContentResponse> source,
                         std::shared_ptr<detail::Channel<GenerateContentResponse>> sink)
{
    QList<ModelContent> pieces;
    ErrorPtr failure;
    try {
        while (std::optional<GenerateContentResponse> chunk = co_await source.next()) {
            if (!chunk->candidates.isEmpty())
                pieces.append(chunk->candidates.first().content);
            sink->yield(std::move(*chunk));
        }
    } catch (...) {
        failure = currentError();
    }
    if (failure) {
        sink->finish(std::move(failure));
        co_return;
    }
    chat->history_ += turns;
    chat->history_.append(foldAnswer(pieces));
    sink->finish();
}

ModelContent Chat::foldAnswer(const QList<ModelContent>& pieces)
{
    QList<ContentPart> parts;
    QString pendingText;
    const auto flushText = [&] {
        if (!pendingText.isEmpty())
            parts.append(ContentPart::text(std::exchange(pendingText, QString())));
    };
    for (const ModelContent& piece : pieces) {
        for (const ContentPart& part : piece.parts()) {
            if (const QString* text = part.get<QString>()) {
                pendingText += *text;
            } else {
                flushText();
                parts.append(part);
            }
        }
    }
    flushText();
    return ModelContent(kModelRole, parts);
}

} // namespace gemini
