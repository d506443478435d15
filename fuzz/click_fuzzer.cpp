// Two clicks of READ through the library over a reader whose every answer is the fuzzer's:
// frames of any length, short reads and errors of every type.
// Input, per click: an opening byte (0 … 20: the reader cannot be opened, with that error
// type and a reason), then for an opened reader its blocks per read (signed), overhead (ms),
// name and what it tells of a failure, then one record per poll or exchange: 00 and a byte
// choosing a transfer error, or n (1…255) and n − 1 answer bytes. Texts are a length byte and
// the text.
#include "fuzz/checked_clicks.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace felica;

class FuzzedReader final : public ReaderBackend {
  public:
    explicit FuzzedReader(fuzz::FuzzInput& input)
        : input_(input),
          max_blocks_(static_cast<std::int8_t>(input.byte())),
          overhead_(std::chrono::milliseconds(input.byte())),
          name_(input.text(input.byte())),
          detail_(input.text(input.byte())) {}

    std::string name() const override { return name_; }
    std::string failure_detail() const override { return detail_; }
    int max_blocks_per_read() const override { return max_blocks_; }
    std::chrono::microseconds overhead() const override { return overhead_; }
    Transfer poll(ByteView, std::chrono::microseconds) override { return answer(); }
    Transfer exchange(ByteView, std::chrono::microseconds) override { return answer(); }
    void close() override {}

  private:
    Transfer answer() {
        const Byte head = input_.byte();
        if (head == 0) {
            return {fuzz::kTransferErrors[input_.byte() % fuzz::kTransferErrors.size()], {}};
        }
        const ByteView bytes = input_.take(head - 1u);
        return {RwError::none, Bytes(bytes.begin(), bytes.end())};
    }

    fuzz::FuzzInput& input_;
    int max_blocks_;
    std::chrono::microseconds overhead_;
    std::string name_;
    std::string detail_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    fuzz::CheckedClicks clicks([&input]() -> OpenedReader {
        const Byte opening = input.byte();
        if (opening <= 20) {
            return {nullptr, static_cast<RwError>(opening), input.text(input.byte())};
        }
        return {std::make_unique<FuzzedReader>(input), RwError::none, {}};
    });
    clicks.click();
    clicks.click();
    return 0;
}
