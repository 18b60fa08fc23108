// The application module as the launcher names it, in a test build: a JavaFX application that
// opens one window and reports what the runtime was started with.
module orbisk {
  requires java.management;
  requires jdk.management;
  requires javafx.graphics;

  exports com.varkelund.orbiskapp to javafx.graphics;
}
