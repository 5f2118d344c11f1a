#pragma once

#include "crash-reporting/reporter/VXCrashAsync.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// Lays out a Mach-O image in memory the way the loader would map it, for a
// fake task. Sections get fixed slots as they are added, so their addresses are
// known at once and content that points at other sections can be written
// afterwards. File offsets equal offsets from the image's first vmaddr.
class SyntheticMachO {
public:
    static constexpr uint64_t kHeaderArea = 0x1000;

    struct Symbol {
        std::string name;
        uint64_t value; // unslid vmaddr
        uint8_t type = 0x0F;   // N_SECT | N_EXT
        uint16_t desc = 0;
    };

    SyntheticMachO(uint64_t vmaddr, uint64_t loadAddress, bool m64 = true, bool bigEndian = false)
        : vmaddr_(vmaddr), load_(loadAddress), m64_(m64), big_(bigEndian), next_(vmaddr + kHeaderArea)
    {
        memory_.resize(kHeaderArea);
        segments_.push_back({"__TEXT", {}});
    }

    uint64_t slide() const { return load_ - vmaddr_; }
    uint64_t loadAddress() const { return load_; }
    bool m64() const { return m64_; }
    size_t wordSize() const { return m64_ ? 8 : 4; }

    // A section of `size` bytes in `segment` (segments are laid out in the
    // order their first section is added); answers its slid address.
    uint64_t addSection(const std::string& segment, const std::string& section, size_t size)
    {
        if (segments_.back().name != segment)
            segments_.push_back({segment, {}});
        const uint64_t at = next_;
        segments_.back().sections.push_back({section, at, size});
        next_ = at + ((size + 0xF) & ~uint64_t(0xF));
        if (next_ == at)
            next_ += 0x10;
        memory_.resize(size_t(next_ - vmaddr_));
        return at + slide();
    }

    uint8_t* at(uint64_t slidAddress) { return memory_.data() + (slidAddress - load_); }
    void put32(uint64_t address, uint32_t v) { write(at(address), v, 4); }
    void put64(uint64_t address, uint64_t v) { write(at(address), v, 8); }
    void putWord(uint64_t address, uint64_t v) { write(at(address), v, wordSize()); }
    void putString(uint64_t address, const std::string& s) { std::memcpy(at(address), s.c_str(), s.size() + 1); }

    void setSymbols(std::vector<Symbol> locals, std::vector<Symbol> globals, bool withDysymtab = true)
    {
        locals_ = std::move(locals);
        globals_ = std::move(globals);
        dysymtab_ = withDysymtab;
    }
    void setUuid(const uint8_t (&uuid)[16]) { std::memcpy(uuid_, uuid, 16), hasUuid_ = true; }
    void omitTextSegment() { omitText_ = true; }
    void setCpu(int32_t type, int32_t subtype) { cpuType_ = type, cpuSubtype_ = subtype; }
    void setMagic(uint32_t magic) { magicOverride_ = magic; }

    // Writes the header, load commands and link-edit data; the bytes are ready
    // for a fake task afterwards.
    void build()
    {
        if (!locals_.empty() || !globals_.empty()) {
            const size_t entry = m64_ ? 16 : 12;
            std::string strings(1, '\0');
            std::vector<uint32_t> strx;
            for (const auto* list : {&locals_, &globals_})
                for (const Symbol& s : *list) {
                    strx.push_back(uint32_t(strings.size()));
                    strings += s.name;
                    strings += '\0';
                }
            const size_t count = locals_.size() + globals_.size();
            const uint64_t symAddr = addSection("__LINKEDIT", "", count * entry);
            const uint64_t strAddr = addSection("__LINKEDIT", "", strings.size());
            size_t i = 0;
            for (const auto* list : {&locals_, &globals_})
                for (const Symbol& s : *list) {
                    uint8_t* p = at(symAddr + i * entry);
                    write(p, strx[i], 4);
                    p[4] = s.type;
                    p[5] = 1;
                    write(p + 6, s.desc, 2);
                    write(p + 8, s.value, wordSize());
                    ++i;
                }
            std::memcpy(at(strAddr), strings.data(), strings.size());
            symoff_ = symAddr - load_;
            stroff_ = strAddr - load_;
            strsize_ = strings.size();
            nsyms_ = uint32_t(count);
        }

        std::vector<uint8_t> cmds;
        uint32_t ncmds = 0;
        for (const Segment& seg : segments_) {
            if (seg.name == "__TEXT" && omitText_)
                continue;
            uint64_t begin = seg.name == "__TEXT" ? vmaddr_ : ~uint64_t(0);
            uint64_t end = seg.name == "__TEXT" ? vmaddr_ + kHeaderArea : 0;
            for (const Section& s : seg.sections) {
                begin = std::min(begin, s.vmaddr);
                end = std::max(end, s.vmaddr + s.size);
            }
            const size_t cmdSize = (m64_ ? 72 : 56);
            const size_t sectSize = (m64_ ? 80 : 68);
            std::vector<uint8_t> c(cmdSize);
            write(&c[0], m64_ ? 0x19 : 0x1, 4);
            std::memcpy(&c[8], seg.name.c_str(), std::min<size_t>(16, seg.name.size()));
            const size_t w = wordSize();
            write(&c[24], begin, w);
            write(&c[24 + w], end - begin, w);
            write(&c[24 + 2 * w], begin - vmaddr_, w);
            write(&c[24 + 3 * w], end - begin, w);
            uint32_t nsects = 0;
            for (const Section& s : seg.sections) {
                if (s.name.empty())
                    continue;
                std::vector<uint8_t> sc(sectSize);
                std::memcpy(&sc[0], s.name.c_str(), std::min<size_t>(16, s.name.size()));
                std::memcpy(&sc[16], seg.name.c_str(), std::min<size_t>(16, seg.name.size()));
                write(&sc[32], s.vmaddr, w);
                write(&sc[32 + w], s.size, w);
                c.insert(c.end(), sc.begin(), sc.end());
                ++nsects;
            }
            write(&c[24 + 4 * w + 8], nsects, 4);
            write(&c[4], uint32_t(c.size()), 4);
            cmds.insert(cmds.end(), c.begin(), c.end());
            ++ncmds;
        }
        if (nsyms_ || !locals_.empty() || !globals_.empty()) {
            std::vector<uint8_t> c(24);
            write(&c[0], 0x2, 4);
            write(&c[4], 24, 4);
            write(&c[8], symoff_, 4);
            write(&c[12], nsyms_, 4);
            write(&c[16], stroff_, 4);
            write(&c[20], strsize_, 4);
            cmds.insert(cmds.end(), c.begin(), c.end());
            ++ncmds;
            if (dysymtab_) {
                std::vector<uint8_t> d(80);
                write(&d[0], 0xB, 4);
                write(&d[4], 80, 4);
                write(&d[8], 0, 4);
                write(&d[12], uint32_t(locals_.size()), 4);
                write(&d[16], uint32_t(locals_.size()), 4);
                write(&d[20], uint32_t(globals_.size()), 4);
                cmds.insert(cmds.end(), d.begin(), d.end());
                ++ncmds;
            }
        }
        if (hasUuid_) {
            std::vector<uint8_t> c(24);
            write(&c[0], 0x1B, 4);
            write(&c[4], 24, 4);
            std::memcpy(&c[8], uuid_, 16);
            cmds.insert(cmds.end(), c.begin(), c.end());
            ++ncmds;
        }
        const size_t headerSize = m64_ ? 32 : 28;
        uint8_t* h = memory_.data();
        write(h, magicOverride_ ? magicOverride_ : (m64_ ? 0xFEEDFACF : 0xFEEDFACE), 4);
        if (magicOverride_)
            std::memcpy(h, &magicOverride_, 4); // as stored, whatever the byte order
        write(h + 4, uint32_t(cpuType_), 4);
        write(h + 8, uint32_t(cpuSubtype_), 4);
        write(h + 12, 6, 4);
        write(h + 16, ncmds, 4);
        write(h + 20, uint32_t(cmds.size()), 4);
        std::memcpy(h + headerSize, cmds.data(), cmds.size());
        cmdsOffset_ = headerSize;
    }

    // Overwrites the cmdsize of the load command at `index`.
    void setCommandSize(size_t index, uint32_t size)
    {
        size_t offset = cmdsOffset_;
        for (size_t i = 0; i < index; ++i)
            offset += read32(memory_.data() + offset + 4);
        write(memory_.data() + offset + 4, size, 4);
    }

    vxcrash_task_region region() const { return {load_, memory_.data(), memory_.size()}; }

private:
    struct Section {
        std::string name;
        uint64_t vmaddr;
        uint64_t size;
    };
    struct Segment {
        std::string name;
        std::vector<Section> sections;
    };

    void write(uint8_t* p, uint64_t v, size_t n) const
    {
        for (size_t i = 0; i < n; ++i)
            p[big_ ? n - 1 - i : i] = uint8_t(v >> (8 * i));
    }
    uint32_t read32(const uint8_t* p) const
    {
        uint32_t v = 0;
        for (size_t i = 0; i < 4; ++i)
            v |= uint32_t(p[big_ ? 3 - i : i]) << (8 * i);
        return v;
    }

    uint64_t vmaddr_;
    uint64_t load_;
    bool m64_;
    bool big_;
    uint64_t next_;
    std::vector<uint8_t> memory_;
    std::vector<Segment> segments_;
    std::vector<Symbol> locals_, globals_;
    bool dysymtab_ = true;
    uint64_t symoff_ = 0, stroff_ = 0, strsize_ = 0;
    uint32_t nsyms_ = 0;
    uint8_t uuid_[16] = {};
    bool hasUuid_ = false;
    bool omitText_ = false;
    int32_t cpuType_ = 0x100000C;
    int32_t cpuSubtype_ = 0;
    uint32_t magicOverride_ = 0;
    size_t cmdsOffset_ = 0;
};
