// The lab as a reviewer leaves it after a while: the protocol sections open,
// three more files of each kind, live, four DAQ rows acquiring, signals
// plotted, a sniffer row and byte selected, a periodic transmit job and the
// PDO form. Made inside the page with the page's own controls, so that every
// engine adapter (and the screenshot script) can bring it about the same way.

/** Runs in the page: builds the busy state from the live or any other scenario; returns what it made. */
export function enterBusyState() {
  const $ = (selector) => document.querySelector(selector);
  const choose = (selector, value) => {
    const select = $(selector);
    select.value = value;
    select.dispatchEvent(new Event('change', { bubbles: true }));
  };
  choose('#scenario', 'ready');
  for (const details of document.querySelectorAll('.protocols details')) details.open = true;
  for (let round = 0; round < 3; round += 1) {
    for (const button of ['#load-eds', '#load-dbc', '#load-a2l']) $(button).click();
  }
  choose('#scenario', 'live');

  $('#tab-daq').click();
  // An added measurement leaves the select: the first option is always a new one.
  for (let row = 0; row < 4; row += 1) {
    const measure = $('#daq-measure');
    measure.selectedIndex = 0;
    measure.dispatchEvent(new Event('change', { bubbles: true }));
    $('#daq-add').click();
  }
  $('#daq-connect').click();
  $('#daq-run').click();

  $('#tab-plots').click();
  for (const index of [0, 3, 6]) document.querySelectorAll('#plot-signals .plot-signal')[index].click();

  $('#tab-sniffer').click();
  // 0x181: a frame of eight bytes.
  $('#sniffer-rows tr:nth-child(3)').click();
  $('#sniffer-inspect .bit-byte').click();

  $('#tab-transmit').click();
  const periodic = $('input[name="tx-timing"][value="periodic"]');
  periodic.checked = true;
  periodic.dispatchEvent(new Event('change', { bubbles: true }));
  $('#tx-send').click();
  choose('#tx-mode', 'pdo');

  $('#tab-monitor').click();
  return {
    files: document.querySelectorAll('.protocols .file-row').length,
    daqRows: document.querySelectorAll('#daq-list > li[data-key]').length,
    acquiring: $('#daq-run').classList.contains('running'),
    plotted: document.querySelectorAll('#plot-signals .plot-signal[aria-pressed="true"]').length,
    jobs: document.querySelectorAll('#periodic-list > .job-row').length,
  };
}

/**
 * Runs in the page: adds a button after the QR picker with the look of the
 * lab's buttons, standing in for one more lab control where the page has none
 * there yet, so that the lab bar is measured with it. Returns whether it added one.
 */
export function addLabButton(text) {
  if (document.querySelector('#compare-open, .lab [data-stand-in]')) return false;
  const button = document.createElement('button');
  button.type = 'button';
  button.className = 'lab-button';
  button.textContent = text;
  button.dataset.standIn = '';
  document.querySelector('#show-qr-picker').after(button);
  return true;
}

/** Runs in the page: shows a workspace tab and lets its layout settle (two frames and any running transition). */
export async function showTab(tab) {
  document.querySelector(`#tab-${tab}`).click();
  window.scrollTo(0, 0);
  await new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
  await Promise.all(document.getAnimations().map((animation) => animation.finished));
}
