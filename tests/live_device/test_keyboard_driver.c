/* A test keyboard for Wine's driver host: the function driver of one root-enumerated device that
 * comes and goes as a USB keyboard does. On start it enables an interface of the USB device
 * class and then, after the delay the controller stored in the device's hardware key, an
 * interface of the keyboard class: on hardware the HID keyboard is enumerated after its USB
 * device. Told so there, it enables no USB interface at all, as a keyboard cover attached over
 * I2C or SPI shows none; or no keyboard interface, its USB one after a delay of its own, as one of
 * a dock's other devices. Test code only; test_keyboard_plug.cpp drives it. */
#include <ntddk.h>

/* The values platform/device_interface_classes.h gives the USB device and keyboard classes. */
static const GUID kUsbDeviceClass = {
    0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
static const GUID kKeyboardClass = {
    0x884b96c3, 0x56ef, 0x11d1, {0xbc, 0x8c, 0x00, 0xa0, 0xc9, 0x14, 0x05, 0xdd}};

typedef struct {
    DEVICE_OBJECT* lower;
    DEVICE_OBJECT* pdo;
    UNICODE_STRING usbLink;
    UNICODE_STRING keyboardLink;
    LONG keyboardDelayMs;
    LONG usbDelayMs;
    BOOLEAN keyboardWanted;
    BOOLEAN usbEnabled;
    BOOLEAN keyboardEnabled;
    BOOLEAN keyboardPending;
    KEVENT unplugging;      /* cuts a pending delay short */
    KEVENT keyboardSettled; /* the delayed keyboard is enabled, or given up */
} TestKeyboard;

/* A REG_DWORD of the device's hardware key, 0 when missing or negative. */
static LONG ReadDeviceNumber(DEVICE_OBJECT* pdo, const WCHAR* valueName) {
    UNICODE_STRING name;
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    } value;
    HANDLE key;
    ULONG size = 0;
    LONG number = 0;
    RtlInitUnicodeString(&name, valueName);
    if (!NT_SUCCESS(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key))) {
        return 0;
    }
    if (NT_SUCCESS(
            ZwQueryValueKey(key, &name, KeyValuePartialInformation, &value, sizeof value, &size)) &&
        value.info.Type == REG_DWORD && value.info.DataLength == sizeof(ULONG)) {
        RtlCopyMemory(&number, value.info.Data, sizeof number);
    }
    ZwClose(key);
    return number < 0 ? 0 : number;
}

/* True once `delayMs` have passed, false as soon as the device is unplugged. */
static BOOLEAN StillPluggedAfter(TestKeyboard* keyboard, LONG delayMs) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = -10000LL * delayMs;
    return KeWaitForSingleObject(&keyboard->unplugging, Executive, KernelMode, FALSE, &timeout) ==
           STATUS_TIMEOUT;
}

/* On a thread of its own: the start request must not wait for the delays. */
static VOID EnableLater(PVOID context) {
    TestKeyboard* keyboard = context;
    if (keyboard->usbDelayMs > 0 && StillPluggedAfter(keyboard, keyboard->usbDelayMs)) {
        keyboard->usbEnabled = NT_SUCCESS(IoSetDeviceInterfaceState(&keyboard->usbLink, TRUE));
    }
    if (keyboard->keyboardWanted && StillPluggedAfter(keyboard, keyboard->keyboardDelayMs)) {
        keyboard->keyboardEnabled =
            NT_SUCCESS(IoSetDeviceInterfaceState(&keyboard->keyboardLink, TRUE));
    }
    KeSetEvent(&keyboard->keyboardSettled, IO_NO_INCREMENT, FALSE);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

static void Plug(TestKeyboard* keyboard) {
    HANDLE thread;
    keyboard->keyboardDelayMs = ReadDeviceNumber(keyboard->pdo, L"KeyboardDelayMs");
    keyboard->usbDelayMs = ReadDeviceNumber(keyboard->pdo, L"UsbDelayMs");
    keyboard->keyboardWanted = ReadDeviceNumber(keyboard->pdo, L"NoKeyboardInterface") == 0;
    if (ReadDeviceNumber(keyboard->pdo, L"NoUsbInterface") == 0 && keyboard->usbDelayMs == 0) {
        keyboard->usbEnabled = NT_SUCCESS(IoSetDeviceInterfaceState(&keyboard->usbLink, TRUE));
    }
    keyboard->keyboardPending = NT_SUCCESS(
        PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, EnableLater, keyboard));
    if (keyboard->keyboardPending) {
        ZwClose(thread);
    }
}

/* The HID child goes before its USB parent, as on hardware, so that a census taken after the
 * USB removal no longer sees the keyboard. */
static void Unplug(TestKeyboard* keyboard) {
    KeSetEvent(&keyboard->unplugging, IO_NO_INCREMENT, FALSE);
    if (keyboard->keyboardPending) {
        KeWaitForSingleObject(&keyboard->keyboardSettled, Executive, KernelMode, FALSE, NULL);
        keyboard->keyboardPending = FALSE;
    }
    if (keyboard->keyboardEnabled) {
        IoSetDeviceInterfaceState(&keyboard->keyboardLink, FALSE);
        keyboard->keyboardEnabled = FALSE;
    }
    if (keyboard->usbEnabled) {
        IoSetDeviceInterfaceState(&keyboard->usbLink, FALSE);
        keyboard->usbEnabled = FALSE;
    }
}

static NTSTATUS SignalCompletion(DEVICE_OBJECT* device, IRP* irp, PVOID done) {
    UNREFERENCED_PARAMETER(device);
    UNREFERENCED_PARAMETER(irp);
    KeSetEvent((KEVENT*)done, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

/* A start request goes to the bus first; the device is usable only once the bus has started it. */
static NTSTATUS ForwardAndWait(TestKeyboard* keyboard, IRP* irp) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalCompletion, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(keyboard->lower, irp) == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    }
    return irp->IoStatus.Status;
}

static NTSTATUS DispatchPnp(DEVICE_OBJECT* device, IRP* irp) {
    TestKeyboard* keyboard = device->DeviceExtension;
    DEVICE_OBJECT* lower = keyboard->lower;
    NTSTATUS status;
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = ForwardAndWait(keyboard, irp);
        if (NT_SUCCESS(status)) {
            Plug(keyboard);
        }
        irp->IoStatus.Status = status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    case IRP_MN_SURPRISE_REMOVAL:
        Unplug(keyboard);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE:
        Unplug(keyboard);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        RtlFreeUnicodeString(&keyboard->usbLink);
        RtlFreeUnicodeString(&keyboard->keyboardLink);
        IoDeleteDevice(device);
        return status;
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower, irp);
}

static NTSTATUS AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
    DEVICE_OBJECT* device;
    TestKeyboard* keyboard;
    NTSTATUS status =
        IoCreateDevice(driver, sizeof(TestKeyboard), NULL, FILE_DEVICE_KEYBOARD, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    keyboard = device->DeviceExtension;
    RtlZeroMemory(keyboard, sizeof *keyboard);
    keyboard->pdo = pdo;
    KeInitializeEvent(&keyboard->unplugging, NotificationEvent, FALSE);
    KeInitializeEvent(&keyboard->keyboardSettled, NotificationEvent, FALSE);
    status = IoRegisterDeviceInterface(pdo, &kUsbDeviceClass, NULL, &keyboard->usbLink);
    if (NT_SUCCESS(status)) {
        status = IoRegisterDeviceInterface(pdo, &kKeyboardClass, NULL, &keyboard->keyboardLink);
    }
    if (!NT_SUCCESS(status)) {
        RtlFreeUnicodeString(&keyboard->usbLink);
        IoDeleteDevice(device);
        return status;
    }
    keyboard->lower = IoAttachDeviceToDeviceStack(device, pdo);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath) {
    UNREFERENCED_PARAMETER(registryPath);
    driver->DriverExtension->AddDevice = AddDevice;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    return STATUS_SUCCESS;
}
