// Placeholder until the startup library has code of its own; delete when it does.
namespace zbx {}
