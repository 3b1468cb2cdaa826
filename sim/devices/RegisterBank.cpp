#include "sim/devices/RegisterBank.h"

#include <algorithm>
#include <stdexcept>

#include "sim/devices/Device.h"

namespace sim {

namespace {

uint64_t End(const Register &Entry) { return Entry.Offset + Entry.Size; }

uint64_t ByteMask(uint64_t Count) { return AllOnes(static_cast<unsigned>(Count)); }

}  // namespace

RegisterBank &RegisterBank::Define(Register Entry) {
  if (Entry.Size == 0 || Entry.Size > 8) {
    throw std::logic_error(Name_ + ": register " + Entry.Name + " must be 1 to 8 bytes wide");
  }
  if (!Registers_.empty() && Entry.Offset < End(Registers_.back())) {
    throw std::logic_error(Name_ + ": register " + Entry.Name + " is out of offset order or overlaps " +
                           Registers_.back().Name);
  }
  Registers_.push_back(std::move(Entry));
  return *this;
}

const Register *RegisterBank::FirstEndingAfter(uint64_t Offset) const {
  auto Found = std::upper_bound(Registers_.begin(), Registers_.end(), Offset,
                                [](uint64_t Value, const Register &Entry) { return Value < End(Entry); });
  return Found == Registers_.end() ? nullptr : &*Found;
}

const Register *RegisterBank::Find(uint64_t Offset) const {
  const Register *Candidate = FirstEndingAfter(Offset);
  return Candidate != nullptr && Candidate->Offset <= Offset ? Candidate : nullptr;
}

uint64_t RegisterBank::ReadGap(uint64_t Offset, unsigned Width) const {
  if (Store_ != nullptr && Offset + Width <= Store_->Size()) {
    return Store_->Get(Offset, Width);
  }
  return 0;
}

void RegisterBank::WriteGap(uint64_t Offset, unsigned Width, uint64_t Value) {
  if (Store_ != nullptr && Offset + Width <= Store_->Size()) {
    Store_->Set(Offset, Width, Value);
  }
}

uint64_t RegisterBank::Read(uint64_t Offset, unsigned Width) {
  uint64_t Result = 0;
  const uint64_t Limit = Offset + Width;
  for (uint64_t Position = Offset; Position < Limit;) {
    const Register *Next = FirstEndingAfter(Position);
    uint64_t Piece;
    uint64_t PieceEnd;
    if (Next != nullptr && Next->Offset <= Position) {
      PieceEnd = std::min(Limit, End(*Next));
      uint64_t Whole = Next->Read ? Next->Read() : 0;
      Piece = (Whole >> (8 * (Position - Next->Offset))) & ByteMask(PieceEnd - Position);
    } else {
      PieceEnd = Next != nullptr ? std::min(Limit, Next->Offset) : Limit;
      Piece = ReadGap(Position, static_cast<unsigned>(PieceEnd - Position));
    }
    Result |= Piece << (8 * (Position - Offset));
    Position = PieceEnd;
  }
  return Result;
}

void RegisterBank::Write(uint64_t Offset, unsigned Width, uint64_t Value) {
  const uint64_t Limit = Offset + Width;
  for (uint64_t Position = Offset; Position < Limit;) {
    const Register *Next = FirstEndingAfter(Position);
    uint64_t PieceEnd;
    if (Next != nullptr && Next->Offset <= Position) {
      PieceEnd = std::min(Limit, End(*Next));
      uint64_t Piece = (Value >> (8 * (Position - Offset))) & ByteMask(PieceEnd - Position);
      if (Next->Write) {
        uint64_t Whole = Piece;
        if (Position != Next->Offset || PieceEnd != End(*Next)) {
          uint64_t Shift = 8 * (Position - Next->Offset);
          uint64_t Current = Next->Read ? Next->Read() : 0;
          Whole = (Current & ~(ByteMask(PieceEnd - Position) << Shift)) | (Piece << Shift);
        }
        Next->Write(Whole & ByteMask(Next->Size));
      }
    } else {
      PieceEnd = Next != nullptr ? std::min(Limit, Next->Offset) : Limit;
      WriteGap(Position, static_cast<unsigned>(PieceEnd - Position),
               (Value >> (8 * (Position - Offset))) & ByteMask(PieceEnd - Position));
    }
    Position = PieceEnd;
  }
}

}  // namespace sim
