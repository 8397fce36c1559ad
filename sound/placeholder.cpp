// Placeholder until the sound library has code of its own; delete when it does.
namespace zbx {}
