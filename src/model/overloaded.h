#pragma once
// One visitor out of several lambdas, for std::visit.

namespace vellumora {

template <typename... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <typename... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

}  // namespace vellumora
