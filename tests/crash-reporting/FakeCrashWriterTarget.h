#pragma once

#include "crash-reporting/reporter/VXCrashWriterTarget.h"

#include <cstring>
#include <string>
#include <vector>

// A process made of fixed threads, frames, images and symbols, for writing
// reports whose every byte is known.
class FakeCrashWriterTarget : public VXCrashWriterTarget {
public:
    struct Thread {
        pid_t tid;
        std::vector<uint64_t> frames;
        // Registers of the first frame, in order.
        std::vector<std::pair<std::string, uint64_t>> registers;
    };
    struct Image {
        uint64_t base;
        uint64_t size;
        std::string name;
        std::vector<uint8_t> uuid;
        std::string crashInfo;
    };
    struct Symbol {
        uint64_t start;
        std::string name;
    };

    std::vector<Thread> threads;
    std::vector<Image> images;
    std::vector<Symbol> symbols;
    pid_t self = 0;
    bool listFails = false;
    int prepareStatus = 0;
    // The registers `captured` stands for: the calling thread's own.
    const Thread* capturedThread = nullptr;

    int suspendCalls = 0;
    int resumeCalls = 0;
    std::vector<uint64_t> symbolLookups;

    bool suspendThreads() override
    {
        ++suspendCalls;
        return !listFails;
    }
    void resumeThreads() override { ++resumeCalls; }
    size_t threadCount() override { return threads.size(); }
    pid_t threadId(size_t index) override { return threads[index].tid; }
    pid_t currentThreadId() override { return self; }

    bool walkBegin(pid_t tid, const void* captured) override
    {
        walking_ = nullptr;
        if (captured)
            walking_ = static_cast<const Thread*>(captured);
        for (const Thread& t : threads) {
            if (!walking_ && t.tid == tid && t.tid != self)
                walking_ = &t;
        }
        depth_ = 0;
        return walking_ && !walking_->frames.empty();
    }
    bool walkPc(uint64_t* pc) override
    {
        *pc = walking_->frames[depth_];
        return true;
    }
    bool walkNext() override { return ++depth_ < walking_->frames.size(); }
    void walkEnd() override { walking_ = nullptr; }
    size_t registerCount() override { return walking_->registers.size(); }
    const char* registerName(size_t index) override { return walking_->registers[index].first.c_str(); }
    bool registerValue(size_t index, uint64_t* value) override
    {
        *value = walking_->registers[index].second;
        return *value != kUnreadable;
    }

    void imagesBeginRead() override { ++readMarks; }
    void imagesEndRead() override { --readMarks; }
    const void* nextImage(const void* current, vxcrash_writer_image* info) override
    {
        size_t index = current ? static_cast<const Image*>(current) - images.data() + 1 : 0;
        if (index >= images.size())
            return nullptr;
        const Image& image = images[index];
        *info = {image.base,
                 image.size,
                 image.name.c_str(),
                 image.uuid.empty() ? nullptr : image.uuid.data(),
                 image.uuid.size(),
                 true,
                 0x1000007,
                 3};
        return &image;
    }
    const void* imageContaining(uint64_t address) override
    {
        for (const Image& image : images) {
            if (address >= image.base && address < image.base + image.size)
                return &image;
        }
        return nullptr;
    }
    bool crashInfoMessage(const void* image, char* buffer, size_t capacity) override
    {
        const std::string& text = static_cast<const Image*>(image)->crashInfo;
        if (text.empty())
            return false;
        std::strncpy(buffer, text.c_str(), capacity - 1);
        buffer[capacity - 1] = '\0';
        return true;
    }

    int prepareSymbols() override { return prepareStatus; }
    void releaseSymbols() override { }
    bool findSymbol(const void*, uint64_t pc, uint32_t, char* name, size_t capacity, uint64_t* start) override
    {
        symbolLookups.push_back(pc);
        const Symbol* best = nullptr;
        for (const Symbol& symbol : symbols) {
            if (symbol.start <= pc && (!best || symbol.start > best->start))
                best = &symbol;
        }
        if (!best)
            return false;
        std::strncpy(name, best->name.c_str(), capacity - 1);
        name[capacity - 1] = '\0';
        *start = best->start;
        return true;
    }

    static constexpr uint64_t kUnreadable = 0xDEADDEADDEADDEADull;
    int readMarks = 0;

private:
    const Thread* walking_ = nullptr;
    size_t depth_ = 0;
};
