// The application module as the launcher names it, in a test build: its main class reports what
// the runtime was started with.
module orbisk {
  requires java.management;
}
