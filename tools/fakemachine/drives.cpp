#include "files.h"

namespace fakes {

namespace {

class Drive : public Fake {
public:
    explicit Drive(const DriveEntry* drive) : Fake("Drive"), drive_(drive) {}

protected:
    void answer(Call& c) override {
        if (c.member == "FreeSpace" || c.member == "AvailableSpace") return c.reply.number(drive_->free);
        if (c.member == "TotalSize") return c.reply.number(drive_->total);
        if (c.member == "DriveLetter") return c.reply.text(drive_->letter.substr(0, 1));
        if (c.member == "IsReady") return c.reply.boolean(true);
        notFakedCall(c);
    }

private:
    const DriveEntry* drive_;
};

class Drives : public Fake {
public:
    explicit Drives(unsigned run) : Fake("Drives"), drives_(machine().drives(run)) {}

protected:
    void answer(Call& c) override {
        if (c.member == "Count") return c.reply.number(double(drives_.size()));
        if (c.member != "_NewEnum") return notFakedCall(c);
        std::vector<ComPtr<IDispatch>> items;
        for (const DriveEntry* d : drives_) {
            Fake* drive = newDrive(d);
            if (!drive) throw std::bad_alloc();
            items.emplace_back();
            items.back().attach(drive);
        }
        giveEnumerator(c.reply, std::move(items));
    }

private:
    std::vector<const DriveEntry*> drives_;
};

}  // namespace

Fake* newDrive(const DriveEntry* drive) { return make<Drive>(drive); }
Fake* newDrives(unsigned run) { return make<Drives>(run); }

}  // namespace fakes
