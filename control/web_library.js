// The one import the decoder suspends in (see web_decoder.h): the wasm stack
// is unwound back to the script, which keeps the wake-up function and calls
// it after the next feed or close.
mergeInto(LibraryManager.library, {
  qx_wait_for_bytes__deps: ['$Asyncify'],
  qx_wait_for_bytes: function () {
    return Asyncify.handleSleep(function (wakeUp) {
      Module['qxWakeUp'] = wakeUp;
    });
  },
});
