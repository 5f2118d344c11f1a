#pragma once

#include "gemini-client/AsyncStream.h"
#include "gemini-client/GenerateContentResponse.h"
#include "gemini-client/GenerativeModel.h"
#include "gemini-client/ModelContent.h"

#include <QList>

#include <qcorotask.h>

#include <memory>

namespace gemini {

// A multi-turn conversation with one model. Each message goes out with the
// whole history; when the answer has arrived, the history grows by the new
// turns and one "model" turn. A failed exchange leaves the history as it was.
//
// One message at a time: a caller that sends the next message before the
// previous one finished gets both exchanges appended in the order they end.
class Chat : public std::enable_shared_from_this<Chat> {
    struct Key {
        explicit Key() = default;
    };
    friend class GenerativeModel;

public:
    // Made by GenerativeModel::startChat.
    Chat(Key, GenerativeModel model, QList<ModelContent> history);

    const QList<ModelContent>& history() const { return history_; }
    QList<ModelContent>& history() { return history_; }
    void setHistory(QList<ModelContent> history) { history_ = std::move(history); }

    template <ThrowingPartsRepresentable... Ts>
    QCoro::Task<GenerateContentResponse> sendMessage(const Ts&... parts)
    {
        return sendMessage(GenerativeModel::userContents(parts...));
    }
    // Contents without a role are sent, and kept, as "user" turns.
    QCoro::Task<GenerateContentResponse> sendMessage(ContentsProducer contents);

    template <ThrowingPartsRepresentable... Ts>
    AsyncStream<GenerateContentResponse> sendMessageStream(const Ts&... parts)
    {
        return sendMessageStream(GenerativeModel::userContents(parts...));
    }
    // Every chunk is passed on; when the model's stream ends normally the
    // pieces are folded into one "model" turn. The reading goes on, and the
    // history is still updated, when the caller stops reading early.
    AsyncStream<GenerateContentResponse> sendMessageStream(ContentsProducer contents);

    // Adjacent text parts joined into one, other parts kept in order, in one
    // content of role "model".
    static ModelContent foldAnswer(const QList<ModelContent>& pieces);

private:
    static QList<ModelContent> newTurns(const ContentsProducer& contents);
    static QCoro::Task<GenerateContentResponse> send(std::shared_ptr<Chat> chat, ContentsProducer contents);
    static QCoro::Task<> pump(std::shared_ptr<Chat> chat, QList<ModelContent> turns,
                              AsyncStream<GenerateContentResponse> source,
                              std::shared_ptr<detail::Channel<GenerateContentResponse>> sink);

    GenerativeModel model_;
    QList<ModelContent> history_;
};

} // namespace gemini
